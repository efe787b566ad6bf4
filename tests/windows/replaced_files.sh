# Sourced by tests/windows/run: writers racing for one name, and files whose owner
# or access list a new file would not get.
# ---- writers racing for one name ----------------------------------------
# A move onto the name is refused while another writer moves onto it, and is
# tried again; a hidden file is written in place (a move would drop the
# attribute), one writer at a time under a lock. Each case: all 12 writers
# exit 0 and leave one writer's whole file, and nothing else.
race() {  # race CASE: 12 writers of same.png in $work/race-CASE
  local dir=$work/race-$1 i
  cp "$win32/zemQRCode.exe" "$dir/"
  for i in $(seq 12); do
    (cd "$dir" && wine_run zemQRCode.exe -s 2 same.png "writer $i" >/dev/null 2>&1; echo $? >"status$i") &
  done
  wait
  check "12 concurrent writers ($1) all exit 0" test "$(cat "$dir"/status* | sort -u | xargs)" = 0
  rm -f "$dir"/status* "$dir/zemQRCode.exe"
  check "12 concurrent writers ($1) leave one file" test "$(ls -A "$dir" | xargs)" = same.png
  check "12 concurrent writers ($1): the file is one writer's whole file" \
    grep -qx 'writer [0-9]*' <(zbarimg -q --raw "$dir/same.png" 2>/dev/null)
}
mkdir -p "$work/race-new" "$work/race-hidden"
race new
"$linux/zemQRCode" -s 2 "$work/race-hidden/same.png" OLD
(cd "$work/race-hidden" && wine_run cmd /c attrib +h same.png)
race hidden
check "a hidden file written in place stays hidden" \
  grep -q '^A *H ' <(cd "$work/race-hidden" && wine_run cmd /c attrib same.png)

# ---- an owner and access list a new file would not get --------------------
# Wine keeps no access list of its own (its icacls is a stub, and this build
# stores none): it shows a file's mode as its access list, and a file of
# another Unix user as another owner's. Such a file is written in place, so
# it keeps its inode, mode and owner; an ordinary file is still replaced.
keep=$work/keep
mkdir -p "$keep"
cp "$win32/zemQRCode.exe" "$keep/"
# A file with a second name is replaced all the same: the other name keeps
# the old symbol.
second_name() { chmod 600 "$1"; ln "$1" "${1%.png}-other.png"; }
keep_cases=("ordinary replaced true" "access-list kept chmod 600" "linked replaced second_name")
if [ "$(id -u)" -eq 0 ]; then
  keep_cases+=("owner kept chown nobody")
else
  echo "note: the other owner's file is checked only as root"
fi
for row in "${keep_cases[@]}"; do
  read -r name expect prepare <<<"$row"
  file=$keep/$name.png
  "$linux/zemQRCode" -s 2 "$file" OLD
  $prepare "$file"
  before=$(stat -c '%i %a %U' "$file")
  (cd "$keep" && wine_run zemQRCode.exe -s 2 "$name.png" "NEW $name" >/dev/null 2>&1)
  check "$name file: written" test "$(zbarimg -q --raw "$file" 2>/dev/null)" = "NEW $name"
  after=$(stat -c '%i %a %U' "$file")
  if [ "$expect" = kept ]; then
    check "$name file: written in place, keeping inode, mode and owner" test "$after" = "$before"
  else
    check "$name file: replaced" test "${after%% *}" != "${before%% *}"
  fi
done
rm "$keep/zemQRCode.exe"
check "linked file: the other name keeps the old symbol" \
  test "$(zbarimg -q --raw "$keep/linked-other.png" 2>/dev/null)" = OLD
check "linked file: the new file takes the old access list, no one else's" \
  test "$(stat -c %A "$keep/linked.png" | cut -c8-)" = ---
check "no temporary file is left beside the kept files" \
  test "$(ls -A "$keep" | grep -cv '\.png$')" = 0
