# Sourced by tests/windows/run: Ctrl+Break, then Ctrl+C, while the console
# program writes a large BMP over an old one (zem_interrupt_host sends the
# event as soon as the temporary file appears). Afterwards the old file is
# there byte for byte and nothing else. An event Wine cannot deliver is
# skipped, saying why (Wine 8 sends no Ctrl+Break to a process group).
interrupt_dir=$work/interrupt
mkdir -p "$interrupt_dir/files"
cp "$win32/zemQRCode.exe" "$interrupt_dir/"
"$linux/zemQRCode" -s 2 "$interrupt_dir/old.bmp" OLD
for event in break c; do
  rm -f "$interrupt_dir"/files/.big.bmp.*.tmp
  cp "$interrupt_dir/old.bmp" "$interrupt_dir/files/big.bmp"
  result=$(cd "$interrupt_dir/files" &&
    wine_run "$win32/zem_interrupt_host.exe" $event '.big.bmp.*.tmp' '..\zemQRCode.exe' -s 40 -q 40 big.bmp NEW |
    tr -d '\r')
  case $result in
    interrupted*)
      check "Ctrl+${event^} during a large write: the old file stays" \
        cmp -s "$interrupt_dir/old.bmp" "$interrupt_dir/files/big.bmp"
      check "Ctrl+${event^} during a large write: no temporary file is left" \
        test "$(ls -A "$interrupt_dir/files" | xargs)" = big.bmp ;;
    skipped*) echo "note: an interrupt during a large write $result" ;;
    *) fail "an interrupt (Ctrl+${event^}) during a large write: ${result:-the host printed nothing}" ;;
  esac
done
rm -rf "$interrupt_dir"
