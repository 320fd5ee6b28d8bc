#!/usr/bin/env bash
# Sets up this machine (Debian packages), builds every target and runs all
# tests: the native unit tests, then the Windows x64 tests under wine64.
# Ends with the line "N passed, M failed"; the exit code is 0 only when
# nothing failed.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

"$top/tools/setup.sh" || exit 1
"$top/tools/build.sh" || exit 1

passed=0 failed=0
run_ctest() {  # build tree
  local log
  log=$(mktemp)
  (cd "$1" && ctest -j2 --output-on-failure --timeout 300) | tee "$log"
  # "100% tests passed, 0 tests failed out of 12"
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  rm -f "$log"
  if [[ -z $line ]]; then
    failed=$((failed + 1))
    return
  fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

run_ctest build/native
run_ctest build/x64

echo "$passed passed, $failed failed"
((failed == 0))
