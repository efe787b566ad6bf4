# Sourced by tests/windows/run: the PE headers and export tables of the Windows
# programs.
source scripts/lib/binary-facts
pe_kind() { "$1-w64-mingw32-objdump" -f -p "$2" | awk '/file format/ { f = $NF } /^Subsystem/ { s = $2 }
            /^[[:space:]]+DLL$/ { d = "dll" } END { print f, s, (d != "" ? d : "exe") }'; }
check "zemQRCode.exe is an i386 console program" \
  test "$(pe_kind i686 "$win32/zemQRCode.exe")" = "pei-i386 00000003 exe"
check "ZEMQRFile.dll is an x86-64 DLL" test "$(pe_kind x86_64 "$win64/ZEMQRFile.dll" | cut -d' ' -f1,3)" = "pei-x86-64 dll"
check "the 64-bit DLL exports exactly ZEMQRFile and ZEMQRFileC" \
  test "$(pe_exports x86_64 "$win64/ZEMQRFile.dll")" = "ZEMQRFile ZEMQRFileC"
check "the 32-bit DLL exports exactly ZEMQRFile and ZEMQRFileC" \
  test "$(pe_exports i686 "$win32/ZEMQRFile.dll")" = "ZEMQRFile ZEMQRFileC"
for f in "i686 $win32/zemQRCode.exe" "x86_64 $win64/ZEMQRFile.dll"; do
  # Only system DLLs: the runtimes, libpng and zlib are linked in.
  check "$(basename "${f#* }") needs only ADVAPI32, KERNEL32 and MSVCRT" \
    test "$(pe_imports $f)" = "ADVAPI32.dll KERNEL32.dll msvcrt.dll"
done
check "the DLL keeps the module identification strings" \
  grep -q -a "Prog Version \[ZEMQRFile\]" "$win64/ZEMQRFile.dll"
