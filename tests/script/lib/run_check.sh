#!/usr/bin/env bash
# Runs a program under wine and checks its exit code and what it prints.
#
#   run_check.sh [--exit N] [--line RE]... [--count N RE]... [--no-line RE]... -- program.exe [args...]
#
# --exit N      the exit code must be N (default 0)
# --line RE     a line of standard output must match RE (extended regex);
#               several --line patterns must match lines in the given order
# --count N RE  exactly N lines match RE, anywhere
# --no-line RE  no line may match RE
# The output is shown when a check fails.
set -uo pipefail

here=$(dirname "$(readlink -f "$0")")
wine_run=$here/../../../tools/wine-run.sh

expect_exit=0 lines=() no_lines=() counts=()
while (($#)); do
  case $1 in
    --exit) expect_exit=$2; shift 2 ;;
    --line) lines+=("$2"); shift 2 ;;
    --no-line) no_lines+=("$2"); shift 2 ;;
    --count) counts+=("$2" "$3"); shift 3 ;;
    --) shift; break ;;
    *) echo "run_check: unknown option $1" >&2; exit 2 ;;
  esac
done
(($#)) || { echo "run_check: no program" >&2; exit 2; }

out=$(mktemp)
trap 'rm -f "$out"' EXIT
rc=0
"$wine_run" "$@" >"$out" || rc=$?
# Windows programs may end lines with CR LF.
sed -i 's/\r$//' "$out"

bad=0
if ((rc != expect_exit)); then
  echo "run_check: exit code $rc, expected $expect_exit" >&2
  bad=1
fi
# Ordered search: each pattern must match a line after the previous match.
from=1
for re in "${lines[@]+"${lines[@]}"}"; do
  n=$(tail -n +"$from" "$out" | grep -n -m1 -E -- "$re" | cut -d: -f1)
  if [[ -z $n ]]; then
    echo "run_check: no line matching '$re' (after line $((from - 1)))" >&2
    bad=1
    break
  fi
  from=$((from + n))
done
for ((i = 0; i < ${#counts[@]}; i += 2)); do
  n=$(grep -c -E -- "${counts[i + 1]}" "$out")
  if ((n != counts[i])); then
    echo "run_check: $n lines match '${counts[i + 1]}', expected ${counts[i]}" >&2
    bad=1
  fi
done
for re in "${no_lines[@]+"${no_lines[@]}"}"; do
  if grep -q -E -- "$re" "$out"; then
    echo "run_check: unexpected line matching '$re'" >&2
    bad=1
  fi
done
if ((bad)); then
  echo "---- output ----" >&2
  cat "$out" >&2
  exit 1
fi
cat "$out"
