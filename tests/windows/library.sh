# Sourced by tests/windows/run: both DLLs through both exports, and the message
# converters over every character, against the Linux library and converters.
mkdir -p "$work/dll/linux"
make_message_file "$work/dll/linux"
host_run "$work/dll/linux" "$linux/tests/zem_dll_host" "$linux/libZEMQRFile.so"
for bits in 64 32; do
  dir=$work/dll/win$bits
  mkdir -p "$dir"
  make_message_file "$dir"
  cp "$root/build-win$bits/ZEMQRFile.dll" "$root/build-win$bits/zem_dll_host.exe" "$dir/"
  host_run "$dir" wine_run zem_dll_host.exe ZEMQRFile.dll
  rm -f "$dir/ZEMQRFile.dll" "$dir/zem_dll_host.exe"
  check "$bits-bit DLL: results, names, files and exit status as the Linux library's" \
    same_run "$work/dll/linux" "$dir"
done
check "the DLL calls covered every result code" \
  test "$(awk '{ print $2 }' "$work/dll/linux/output" | sort -un | xargs)" = "-81 -61 -4 -2 -1 0"
check "a name buffer holding code comes back holding code.png" \
  grep -q '^ZEMQRFile 0 \[s-code.png\]$' "$work/dll/win64/output"
check "the DLL calls wrote UTF-8-named files" \
  test "$(LC_ALL=C grep -c $'^ZEMQRFile 0 \\[s-\\(_\xe3\\|\xe6\x97\xa5\\)' "$work/dll/linux/output")" = 2

host_run "$work/charcode/linux" "$linux/tests/zem_charcode_host" table.txt
for bits in 32 64; do
  host_run "$work/charcode/win$bits" wine_run "$root/build-win$bits/zem_charcode_host.exe" table.txt
  check "$bits-bit converters give the Linux converters' bytes" \
    same_run "$work/charcode/linux" "$work/charcode/win$bits"
done
