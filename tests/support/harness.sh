# Shell helpers of the test runs (tests/*/run, tests/windows/package_check)
# and of the packaging scripts, sourced from the top of the source tree.
# A run counts its checks in passed and failed and ends with finish.

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

# check NAME COMMAND...: passes when the command succeeds; its output shows
# only when it fails.
check() {
  local name=$1 log
  shift
  log=$(mktemp /tmp/zem-check.XXXXXX)
  if "$@" >"$log" 2>&1; then pass; else fail "$name"; sed 's/^/     /' "$log"; fi
  rm -f "$log"
}

# finish SUITE: the run's last line, "SUITE: N passed, M failed", and its status.
finish() {
  echo "$1: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

# give_up SUITE REASON: ends a run that cannot start as one failure.
give_up() {
  echo "FAIL: $2"
  echo "$1: 0 passed, 1 failed"
  exit 1
}

# need_files SUITE FILE...: gives up unless every file is there.
need_files() {
  local suite=$1 f
  shift
  for f in "$@"; do [ -f "$f" ] || give_up "$suite" "$f is missing"; done
}

# The product version, from the public header.
product_version() { sed -n 's/^#define ZEMQRFILE_VERSION "\(.*\)"$/\1/p' include/zemqrfile.h; }

# copy_tree DIR: the tracked and the new files, as a fresh clone would have them.
copy_tree() {
  mkdir -p "$1"
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ ! -e "$f" ] || printf '%s\0' "$f"; done |
    tar -c --null -T - | tar -x -C "$1"
}

# host_run DIR COMMAND...: runs a test host in DIR (made if missing); both of
# its streams go to DIR/output (carriage returns dropped), its exit status to
# DIR/status, beside the files it writes there.
host_run() {
  local dir=$1
  shift
  mkdir -p "$dir"
  (cd "$dir" && { "$@" 2>&1; echo $? >status; } | tr -d '\r' >output)
}
# same_run REFERENCE OTHER: both hosts of host_run exited 0 having written
# something, and their folders hold the same files, output and status.
same_run() {
  local dir
  for dir in "$1" "$2"; do
    [ "$(cat "$dir/status")" = 0 ] || { echo "$dir: exit status $(cat "$dir/status")"; return 1; }
    [ -n "$(find "$dir" -type f ! -name status -size +0 -print -quit)" ] ||
      { echo "$dir: the host wrote nothing"; return 1; }
  done
  diff -r "$1" "$2"
}

# The console program's requests (tests/support/cli_requests) each run in a
# folder of their own: exit status, standard error, standard output
# (normalised) and every file written are compared between builds.
source tests/support/cli_requests
# run_request DIR RUNNER PROGRAM NAME ARGS...: one request in DIR, with
# PROGRAM copied there as NAME and started by RUNNER NAME ARGS... (native_run
# for this machine's programs; each run adds its emulator's).
run_request() {
  local dir=$1 runner=$2 program=$3 name=$4
  shift 4
  mkdir -p "$dir"
  request_inputs "$dir"
  cp "$program" "$dir/$name"
  (cd "$dir" && "$runner" "$name" "$@" >.stdout 2>.stderr)
  echo $? >"$dir/.status"
  rm -f "${dir:?}/$name"
  normalise "$dir/.stdout" >"$dir/.stdout.n"
  rm "$dir/.stdout"
}
# native_run NAME ARGS...: the program in this folder, started as NAME.
native_run() { (exec -a "$1" "./$1" "${@:2}"); }
