"""A Python host of the shared library through ctypes: both exports and the
console program, given the same request, write the same file.

Usage: ctypes_host.py LIBRARY CONSOLE_PROGRAM
"""
import ctypes
import os
import subprocess
import sys
import tempfile

MESSAGE = "ctypes \u65e5\u672c\u8a9e 7"


def bind(library, name):
    function = getattr(library, name)
    function.argtypes = [ctypes.c_uint32, ctypes.c_char_p] + [ctypes.c_int32] * 7 + [ctypes.c_char_p]
    function.restype = ctypes.c_int32
    return function


def main(library_path, console_program):
    library = ctypes.CDLL(os.path.abspath(library_path))
    exports = [bind(library, "ZEMQRFile"), bind(library, "ZEMQRFileC")]
    with tempfile.TemporaryDirectory() as work:
        os.chdir(work)
        written = []
        for export, name in zip(exports, ["code", "codeC"]):
            buffer = ctypes.create_string_buffer(name.encode(), 64)
            result = export(0, buffer, 0, 4, 2, 3, 2, 0, 0, MESSAGE.encode())
            assert result == 0, (name, result)
            assert buffer.value == (name + ".png").encode(), buffer.value
            with open(buffer.value, "rb") as file:
                written.append(file.read())
            missing = ctypes.create_string_buffer(b"m.png", 64)
            assert export(1, missing, 0, 0, 1, 0, 1, 0, 0, b"none.txt") == -2
        subprocess.run([console_program, "-q", "4", "-e", "2", "-p", "3", "-s", "2", "cli", MESSAGE],
                       check=True)
        with open("cli.png", "rb") as file:
            written.append(file.read())
        assert written[0] == written[1] == written[2], [len(w) for w in written]
        os.chdir("/")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
