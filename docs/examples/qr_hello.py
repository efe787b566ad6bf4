"""Writes a QR Code with libZEMQRFile through ctypes.

Run: python3 qr_hello.py [OUTPUT [MESSAGE]]   (writes hello-py.png by default)
"""
import ctypes
import sys

library = ctypes.CDLL("libZEMQRFile.so.1")
ZEMQRFile = library.ZEMQRFile
ZEMQRFile.argtypes = [ctypes.c_uint32, ctypes.c_char_p] + [ctypes.c_int32] * 7 + [ctypes.c_char_p]
ZEMQRFile.restype = ctypes.c_int32

output = sys.argv[1] if len(sys.argv) > 1 else "hello-py"
message = sys.argv[2] if len(sys.argv) > 2 else "Hello from Python"

# The name buffer needs room for ".png", which the library may append in place.
file_name = ctypes.create_string_buffer(output.encode(), len(output.encode()) + 5)
result = ZEMQRFile(
    0,  # flags: message given as text, quiet
    file_name,  # output name, extended in place
    0,  # data mode: automatic
    0,  # version: smallest that holds the message
    2,  # error correction level: M
    0,  # mask pattern: automatic
    4,  # cell size: 4 x 4 pixels a module
    0,  # character set: automatic (UTF-8 on Linux)
    0,  # data length: the whole message
    message.encode(),
)
if result != 0:
    sys.exit(f"ZEMQRFile failed with result {result}")
print("wrote", file_name.value.decode())
