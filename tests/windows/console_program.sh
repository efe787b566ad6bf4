# Sourced by tests/windows/run: the console program against the Linux one, over
# the requests of tests/support/cli_requests.
for exe in "$win32/zemQRCode.exe" "$win64/zemQRCode.exe"; do
  bits=${exe%/zemQRCode.exe}
  bits=${bits##*-win}
  i=0
  for request in "${requests[@]}"; do
    i=$((i + 1))
    read -r -a args <<<"$request"
    run_request "$work/cli$bits/$i/linux" native_run "$linux/zemQRCode" "${args[@]}"
    run_request "$work/cli$bits/$i/windows" wine_run "$exe" "${args[@]}"
    check "$bits-bit console program: $request" diff -r "$work/cli$bits/$i/linux" "$work/cli$bits/$i/windows"
  done
  check "$bits-bit usage screen names ${bits}bit" \
    grep -q "(${bits}bit)" <(cd "$work" && wine_run "$exe" -h)
done
