"""The public header is the one source of the result codes and of ZEMQRFile's
declaration; the console program, the VBA and .NET modules and the docs'
tables follow it:
- the VBA and .NET modules declare ZEMQRFile as the header does (export name,
  calling convention, argument names, order and types) and use its UTF-8
  names flag;
- the console program's message table has one entry for each code and range
  the header names, by name, in the header's order;
- both modules give the console program's message for every code, and the
  VBA module's constants, error numbers and range bounds are the header's;
- the VBA module's two Declare branches differ only in PtrSafe and
  LongPtr/Long, its public parameters are ByVal (or arrays), and it is ASCII
  with LF line ends (the release zip adds the CR);
- the README's, the messages page's and the manual page's code ranges and
  messages are the header's, and the Office guide's error numbers follow
  from its codes.

Usage: header_check.py SOURCE_DIR
"""
import os
import re
import sys

CS_SOURCE = "bindings/ZemQR.cs"
VBA_SOURCE = "bindings/ZemQR.bas"

source = sys.argv[1]
errors = []


def read(path):
    with open(os.path.join(source, path), encoding="utf-8", newline="") as file:
        return file.read()


header = read("include/zemqrfile.h")
bas_text = read(VBA_SOURCE)
bas = re.sub(r" _\n\s*", " ", bas_text)  # continued lines joined
cs = read(CS_SOURCE)

# --- The header's codes. A _LAST define closes the range opened by the define
# before it; a writer's codes start one below its offset.
defines = [(name, int(value)) for name, value in
           re.findall(r"^#define (ZEMQR_\w+) \(?(-?\d+)\)?", header, re.M)]
value_of = dict(defines)
stages = []  # (first name, last name), a lone code named twice
for name, value in defines:
    if name == "ZEMQR_OK":
        continue
    if name.endswith("_LAST"):
        stages[-1] = (stages[-1][0], name)
    else:
        stages.append((name, name))


def message_range(stage):
    return value_of[stage[0]], value_of[stage[1]]


def code_range(stage):
    first, last = message_range(stage)
    return (first - 1 if stage[0].endswith("_WRITER_OFFSET") else first), last


lowest = min(defines, key=lambda define: define[1])[0]

# --- The console program's table: the reference for every message.
command_line = read("cli/command_line.cpp")
table = re.search(r"kMessages\[\] = \{(.*?)\};", command_line, re.S).group(1)
entries = re.findall(r"\{(\w+), (\w+), \"([^\"]*)\\n\"\}", table)
if [(high, low) for high, low, _ in entries] != stages:
    errors.append(f"command_line.cpp: kMessages does not name the header's codes and ranges, "
                  f"in its order: {stages}")
message_of = {(high, low): text for high, low, text in entries}


def console_message(code):
    for stage, text in message_of.items():
        first, last = message_range(stage)
        if last <= code <= first:
            return text.replace("%d", str(code))
    return None


# --- Each module's message function, evaluated as the module would.
def concatenation(expression, operator, code):
    # '"a [" & code & "]"' -> 'a [-21]'
    parts = re.findall(r'"((?:[^"]|"")*)"|(\w+)', expression)
    if expression.count(operator) != len(parts) - 1 or any(name not in ("", "code") for _, name in parts):
        raise ValueError(expression)
    return "".join(str(code) if name else text for text, name in parts)


def vba_messages(constants):
    body = re.search(r"Public Function ZemQRMessage\(ByVal code As Long\) As String\n(.*?)\nEnd Function",
                     bas, re.S).group(1)
    cases = []  # (list of (low, high) or None for Else, expression)
    for case, inline, following in re.findall(r"^\s*Case ([^:\n]+?)(?:: (.*))?\n(?:\s*ZemQRMessage = (.*)\n)?",
                                              body + "\n", re.M):
        expression = (inline or "").replace("ZemQRMessage = ", "") or following

        def bound(word):
            return int(word) if re.fullmatch(r"-?\d+", word) else constants[word]

        spans = None if case == "Else" else [
            tuple(bound(w) for w in (part.split(" To ") * 2)[:2]) for part in case.split(", ")]
        cases.append((spans, expression))

    def message(code):
        for spans, expression in cases:
            if spans is None or any(low <= code <= high for low, high in spans):
                return concatenation(expression, "&", code)
        return None
    return message


def cs_messages(constants):
    body = re.search(r"static string MessageFor\(int code\)\s*\{(.*?)\n\s*\}", cs, re.S).group(1)
    statements = re.findall(r"(?:if \((.*?)\) )?return (.*?);", body)

    def message(code):
        for condition, expression in statements:
            names = {"code": code, **constants}
            test = re.sub(r"\b[A-Za-z_]\w*\b", lambda m: str(names[m.group(0)]), condition)
            test = test.replace("&&", " and ").replace("||", " or ")
            if not re.fullmatch(r"[-\d\s<>=!andor()]*", test):
                raise ValueError(condition)
            if not condition or eval(test):
                return concatenation(expression, "+", code)
        return None
    return message


vba_constants = {name: int(value) for name, value in
                 re.findall(r"^(?:Public|Private) Const (\w+) As Long = (-?\d+)$", bas, re.M)}
cs_constants = {name: int(value) for name, value in re.findall(r"const int (\w+) = (-?\d+);", cs)}
modules = []
for name, make in (("ZemQR.bas", lambda: vba_messages(vba_constants)),
                   ("ZemQR.cs", lambda: cs_messages(cs_constants))):
    try:
        modules.append((name, make()))
    except (AttributeError, KeyError, ValueError) as error:
        errors.append(f"{name}: its message function cannot be read ({error!r})")
# Where the console program prints nothing, a module gives its message for
# codes beyond every range.
beyond = value_of[lowest] - 1000
for code in range(-1, value_of[lowest] - 11, -1):
    for name, message in modules:
        try:
            text = message(code)
            expected = console_message(code) or message(beyond).replace(str(beyond), str(code))
        except (KeyError, ValueError) as error:
            text, expected = f"unreadable ({error!r})", "readable"
        if text != expected:
            errors.append(f"{name}: message for {code} is {text!r}, not {expected!r}")

# --- VBA: the header's constants, and Err.Number = vbObjectError + 512 + |code|.
vba_codes = {name: value for name, value in vba_constants.items() if name.startswith("ZEMQR_")}
for name in sorted(vba_codes.keys() | value_of.keys()):
    if vba_codes.get(name) != value_of.get(name):
        errors.append(f"ZemQR.bas: {name} is {vba_codes.get(name)}, the header's {value_of.get(name)}")
if "Private Const ERROR_BASE As Long = vbObjectError + 512\n" not in bas:
    errors.append("ZemQR.bas: ERROR_BASE is not vbObjectError + 512")
if f"number <= ERROR_BASE - {lowest} Then" not in bas:
    errors.append(f"ZemQR.bas: ZemQRErrorCode does not reach the header's lowest code, {lowest}")
for raised in re.findall(r"Err\.Raise (\w[^,]*),", bas):
    if raised not in ("ERROR_BASE - code", "ZemQRLoadError"):
        errors.append(f"ZemQR.bas: Err.Raise {raised} is neither a library error nor the load error")

# --- VBA: the Declare branches, public parameters, bytes.
branches = re.findall(r"^#If VBA7 Then\n(.*?)^#Else\n(.*?)^#End If\n", bas, re.M | re.S)
if not branches:
    errors.append("ZemQR.bas: no #If VBA7 branches")
for vba7, earlier in branches:
    if vba7.replace("PtrSafe ", "").replace("LongPtr", "Long") != earlier:
        errors.append("ZemQR.bas: the #If VBA7 branches differ in more than PtrSafe and LongPtr/Long")
    if re.search(r"^Private Declare (?!PtrSafe )", vba7, re.M) or "PtrSafe" in earlier:
        errors.append("ZemQR.bas: a Declare of the VBA7 branch lacks PtrSafe, or one before VBA7 has it")
for procedure, params in re.findall(r"^Public (?:Function|Sub) (\w+)\((.*)\)(?: As \w+)?$", bas, re.M):
    for param in filter(None, (p.strip() for p in params.split(","))):
        param = param.removeprefix("Optional ")
        if not (param.startswith("ByVal ") or re.match(r"(ByRef )?\w+\(\) As ", param)):
            errors.append(f"ZemQR.bas: {procedure} takes {param!r}, not ByVal")
if not bas_text.isascii():
    errors.append("ZemQR.bas: a byte that is not ASCII (the editor reads it in the ANSI code page)")
if "\r" in bas_text:
    errors.append("ZemQR.bas: a CR (the release zip adds it to every line)")


# --- The declarations of ZEMQRFile.
def c_params(text):
    # "const char* message" -> ("message", "char*")
    params = []
    for param in text.split(","):
        c_type, name = param.replace("const ", "").rsplit(None, 1)
        params.append((name.lower(), "".join(c_type.split())))
    return params


expected = c_params(re.search(r"int32_t ZEMQR_STDCALL ZEMQRFile\(([^)]*)\);", header).group(1))

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


# --- The docs' tables: each stage's codes, and its console message.
def span(first, last):
    return str(first) if first == last else f"{first} to {last}"


def shown(stage):
    # "QR Code image create error [%d]" as the README shows it
    return message_of.get(stage, "").replace("%d", "n")


readme = read("README.md")
section = re.search(r"^## Result codes\n(.*?)^## ", readme, re.M | re.S).group(1)
got = re.findall(r"^\| (-?\d+(?: to -?\d+)?) \| .* \| `?(.*?)`? \|$", section, re.M)
want = [("0", "(none)")] + [(span(*code_range(stage)), shown(stage)) for stage in stages]
if got != want:
    errors.append(f"README.md: the result codes table has {sorted(set(got) - set(want))}, "
                  f"not the header's {sorted(set(want) - set(got))}")

messages_page = read("docs/messages.md")
section = re.search(r"^## Result codes that occur\n(.*?)(?:^## |\Z)", messages_page, re.M | re.S).group(1)
got = re.findall(r"^\| (-?\d+ to -?\d+) \|", section, re.M)
want = [span(*code_range(stage)) for stage in stages if stage[0] != stage[1]]
if got != want:
    errors.append(f"docs/messages.md: the ranges of the codes that occur are {got}, not the header's {want}")

manual = read("docs/zemQRCode.1")
diagnostics = manual[manual.index(".SH DIAGNOSTICS"):manual.index(".SH FILES")]
for stage in stages:
    text = message_of.get(stage, "")
    if "%d" not in text:
        if f"\n.B {text}\n" not in diagnostics:
            errors.append(f"docs/zemQRCode.1: no diagnostic {text!r}")
        continue
    item = re.search(rf'^\.BI "{re.escape(text.split(" [%d]")[0])} \[" n \]\n\.I n\nfrom (.*?):',
                     diagnostics, re.M)
    want = "{} to {}".format(*code_range(stage)).replace("-", "\\-")
    if item is None or item.group(1) != want:
        errors.append(f"docs/zemQRCode.1: the diagnostic {text!r} is not for n from {want}")

# The Office guide's error numbers: vbObjectError + 512 + |code|, as VBA shows them.
for code, offset, number, hexadecimal in re.findall(
        r"^\| (-\d+) \| .* \| vbObjectError \+ (\d+) \| (-\d+) \(([0-9a-f]+)\) \|$", read("docs/office.md"), re.M):
    want = -0x7FFC0000 + 512 - int(code)  # vbObjectError is &H80040000
    if console_message(int(code)) is None or int(offset) != 512 - int(code) or int(number) != want \
            or int(hexadecimal, 16) != want & 0xFFFFFFFF:
        errors.append(f"docs/office.md: the error number of {code} is not vbObjectError + 512 + {-int(code)}")

if errors:
    sys.exit("\n".join(errors))
