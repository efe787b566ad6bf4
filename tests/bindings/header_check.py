"""The VBA and .NET modules declare ZEMQRFile as the public header does (export
name, calling convention, argument names, order and types), use its UTF-8
names flag, and give the console program's messages, so none can drift.

Usage: declare_check.py SOURCE_DIR
"""
import os
import re
import sys

source = sys.argv[1]


def read(*path):
    with open(os.path.join(source, *path), encoding="utf-8") as file:
        return file.read()


def c_params(text):
    # "const char* message" -> ("message", "char*")
    params = []
    for param in text.split(","):
        c_type, name = param.replace("const ", "").rsplit(None, 1)
        params.append((name.lower(), "".join(c_type.split())))
    return params


header = read("include", "zemqrfile.h")
bas = re.sub(r" _\n\s*", " ", read("bindings", "ZemQR.bas"))
cs = read("bindings", "ZemQR.cs")
errors = []

prototype = re.search(r"int32_t ZEMQR_STDCALL ZEMQRFile\(([^)]*)\);", header)
expected = c_params(prototype.group(1))

# VBA: integers by value as Long, strings as the first Byte of an array.
vba_of = {"uint32_t": "ByVal Long", "int32_t": "ByVal Long", "char*": "ByRef Byte"}
declares = re.findall(r"^Private Declare (PtrSafe )?Function (ZEMQRFile\w*) Lib \"ZEMQRFile.dll\""
                      r" \((.*)\) As (\w+)$", bas, re.M)
if sorted(d[0] for d in declares) != ["", "PtrSafe "] or any(d[1] != "ZEMQRFile" for d in declares):
    errors.append("ZemQR.bas: not one Declare of ZEMQRFile for VBA7 and one for earlier VBA")
for ptr_safe, _, params, result in declares:
    got = [(name.lower(), f"{passing} {vba_type}")
           for passing, name, vba_type in re.findall(r"(ByVal|ByRef) (\w+) As (\w+)", params)]
    want = [(name, vba_of[c_type]) for name, c_type in expected]
    if got != want or result != "Long":
        errors.append(f"ZemQR.bas: {ptr_safe}Declare ({got}) As {result} is not the header's ({want}) As Long")

# .NET: uint and int, strings as byte arrays; the stdcall export by its exact name.
cs_of = {"uint32_t": "uint", "int32_t": "int", "char*": "byte[]"}
dll_import = re.search(r"\[DllImport\(\"ZEMQRFile\", CallingConvention = CallingConvention.StdCall,"
                       r" ExactSpelling = true\)\]\s*static extern int ZEMQRFile\(([^;]*)\);", cs)
if dll_import is None:
    errors.append("ZemQR.cs: no stdcall DllImport of ZEMQRFile returning int")
else:
    params = re.sub(r"\[\w+(, \w+)*\]", "", dll_import.group(1))
    got = [(p.split()[-1].lower(), p.split()[-2]) for p in params.split(",")]
    want = [(name, cs_of[c_type]) for name, c_type in expected]
    if got != want:
        errors.append(f"ZemQR.cs: DllImport ({got}) is not the header's ({want})")

flag = int(re.search(r"#define IMAGEFLAG_UTF8_NAMES (0x[0-9a-fA-F]+)u", header).group(1), 16)
if int(re.search(r"IMAGEFLAG_UTF8_NAMES As Long = &H([0-9A-F]+)", bas).group(1), 16) != flag:
    errors.append("ZemQR.bas: IMAGEFLAG_UTF8_NAMES is not the header's")
if int(re.search(r"ImageFlagUtf8Names = (0x[0-9a-fA-F]+)", cs).group(1), 16) != flag:
    errors.append("ZemQR.cs: ImageFlagUtf8Names is not the header's")

# Each message of the console program's table, up to its code, in both.
command_line = read("cli", "command_line.cpp")
table = re.search(r"kMessages\[\] = \{(.*?)\};", command_line, re.S).group(1)
for message in re.findall(r"\"([^\"]*)\\n\"", table):
    text = '"' + message.split("%d")[0] + ('"' if "%d" not in message else "")
    for name, module in (("ZemQR.bas", bas), ("ZemQR.cs", cs)):
        if text not in module:
            errors.append(f"{name}: no message {text}")

if errors:
    sys.exit("\n".join(errors))
