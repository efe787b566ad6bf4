# Sourced by tests/windows/run: Japanese and mixed text and names from a command
# line under code page 932.
# ---- Japanese text on a code page 932 command line -----------------------
# Under a Japanese locale Wine's ANSI code page is 932: the UTF-8 argument
# reaches the program as Shift-JIS, which the automatic character set takes
# as it is, so the symbol holds it in Kanji mode.
text_utf8=$'\xe6\xbc\xa2\xe5\xad\x97\xe3\x81\xa8\xe3\x81\x8b\xe3\x81\xaa'  # 漢字とかな
text_sjis=$'\x8a\xbf\x8e\x9a\x82\xc6\x82\xa9\x82\xc8'
if locale -a 2>/dev/null | grep -i '^ja_JP\.utf-\?8$' >/dev/null; then
  mkdir -p "$work/ja/windows" "$work/ja/linux"
  (cd "$work/ja/windows" && LC_ALL=ja_JP.UTF-8 wine_run "$win32/zemQRCode.exe" -v -s 3 ja.png "$text_utf8" |
     tr -d '\r' >trace.txt)
  (cd "$work/ja/linux" && "$linux/zemQRCode" -v -k 1 -s 3 ja.png "$text_sjis" >trace.txt)
  check "Japanese argument: the same file as Shift-JIS text on Linux" \
    cmp -s "$work/ja/linux/ja.png" "$work/ja/windows/ja.png"
  check "Japanese argument: stored in Kanji mode" grep -q '^\[QRCode\] Data Mode *=4$' "$work/ja/windows/trace.txt"
  check "Japanese argument: a decoder reads back the Shift-JIS bytes" \
    test "$(zbarimg -q --raw -Sbinary "$work/ja/windows/ja.png" 2>/dev/null | od -An -tx1 | xargs)" = \
         "$(printf '%s' "$text_sjis" | od -An -tx1 | xargs)"

  # The command line in Unicode: each request runs under Wine with the
  # characters typed and on Linux with the bytes the program should take,
  # and must give the same status, output and files. -k 1 and -k 2 take the
  # ANSI code page's bytes (where é is e); everything else the text itself.
  unicode_request() {  # unicode_request CASE WINDOWS_ARGS... -- LINUX_ARGS...
    local dir=$work/unicode/$1 win=()
    shift
    while [ "$1" != -- ]; do win+=("$1"); shift; done
    shift
    mkdir -p "$dir/windows" "$dir/linux"
    make_message_file "$dir/windows"
    make_message_file "$dir/linux"
    cp "$win32/zemQRCode.exe" "$dir/windows/"
    (cd "$dir/windows" && LC_ALL=ja_JP.UTF-8 wine_run zemQRCode.exe "${win[@]}" >.stdout 2>.stderr
     echo $? >.status)
    rm "$dir/windows/zemQRCode.exe"
    (cd "$dir/linux" && "$linux/zemQRCode" "$@" >.stdout 2>.stderr; echo $? >.status)
    check "Unicode command line: ${win[*]}" diff -r "$dir/linux" "$dir/windows"
  }
  mixed=$'caf\xc3\xa9 \xe2\x98\x95 \xe6\x97\xa5\xe6\x9c\xac Hello'  # café ☕ 日本 Hello
  label=$'\xe3\x83\xa9\xe3\x83\x99\xe3\x83\xab_\xc3\xa9.png'          # ラベル_é.png
  nihon_utf8=$'\xe6\x97\xa5\xe6\x9c\xac'
  nihon_sjis=$'\x93\xfa\x96\x7b'
  unicode_request mixed -s 4 "$label" "$mixed" -- -s 4 "$label" "$mixed"
  unicode_request k3 -k 3 -s 2 k3.png "$mixed" -- -k 3 -s 2 k3.png "$mixed"
  unicode_request k1 -k 1 -s 2 k1.png "$nihon_utf8 é" -- -k 1 -s 2 k1.png "$nihon_sjis e"
  unicode_request k2 -k 2 -s 2 k2.png "$nihon_utf8" -- -k 2 -s 2 k2.png "$nihon_sjis"
  # 2800 kanji: too long in UTF-8 for the message buffer, not in Shift-JIS.
  long_utf8=$(for _ in $(seq 2800); do printf '\xe6\xbc\xa2'; done)
  long_sjis=$(for _ in $(seq 2800); do printf '\x8a\xbf'; done)
  unicode_request long -s 1 long.png "$long_utf8" -- -k 1 -s 1 long.png "$long_sjis"
  unicode_request file -f "$message_file_utf8" -s 2 "$label" -- -f "$message_file_utf8" -s 2 "$label"
  check "Unicode command line: the mixed text decodes whole" \
    test "$(zbarimg -q --raw "$work/unicode/mixed/windows/$label" 2>/dev/null)" = "$mixed"

  # The usage screen names the program by its ANSI path.
  folder=$work/$'\xe3\x83\x95\xe3\x82\xa9\xe3\x83\xab\xe3\x83\x80_\xc3\xa9'  # フォルダ_é
  mkdir -p "$folder"
  cp "$win32/zemQRCode.exe" "$folder/"
  (cd "$work" && LC_ALL=ja_JP.UTF-8 wine_run "$folder/zemQRCode.exe" -h >"$work/usage-ja.txt")
  ansi_path=$(printf 'Z:%s\\zemQRCode.exe' "${folder%_*}_e" | tr / '\\' | iconv -f UTF-8 -t CP932)
  check "the usage screen from a Japanese-named folder names the ANSI path" \
    grep -qxF "Usage: $ansi_path [options...] QRFile [QRMessage]" "$work/usage-ja.txt"

else
  fail "Japanese argument: the ja_JP.UTF-8 locale is missing (scripts/install-deps test makes it)"
fi
