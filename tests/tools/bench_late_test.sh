#!/bin/bash
# The benches tell an emulator's late replies from the loader's faults: with every reply
# held back past the loader's timeout, bench/station and bench/download drop their runs as
# "emulator late" (no figure: exit 3) and never report a loader failure.
#   bench_late_test.sh BIN_DIR SOURCE_DIR
set -u
export DOWNLOADER_BIN="$1"
cd "$2" || exit 1
status=0
check() {  # NAME EXPECTED_LINE COMMAND...
  local name="$1" expected="$2"
  shift 2
  local out code
  out=$(/usr/bin/python3 "$@" 2>&1)
  code=$?
  if [ "$code" != 3 ] || ! grep -qx -- "$expected" <<<"$out" ||
     ! grep -q "emulator late: [1-9][0-9]* replies, worst [0-9.]* ms" <<<"$out" ||
     grep -q "LOADER FAILURE\|emulator on time" <<<"$out"; then
    echo "$name: exit $code, expected 3 with \"$expected\" and no failure:"
    echo "$out"
    status=1
  fi
}
check bench/station "runs_emulator_late 2" \
  bench/station --ports 3 --runs 2 --slots 1 --packets 3 --slow-replies 60
check bench/download "runs_emulator_late 1" bench/download --slow-replies 60
exit $status
