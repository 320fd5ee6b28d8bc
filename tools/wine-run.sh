#!/usr/bin/env bash
# Run one Windows program under wine64 in the build tree's wine session, with
# a time limit; stdout, stderr and the exit code pass through.
#
#   wine-run.sh [--timeout SECS] [--stdin FILE] <program.exe> [args...]
#
# SECS defaults to 60, FILE to /dev/null. On time-out: message on stderr,
# the program and its child processes are killed, exit status 124.
# Starts the session (wine-session.sh start) if none runs, and leaves it
# running for the next call; KX4_WINE_DIR selects it (default $PWD/wine).
set -euo pipefail

usage() {
  echo "usage: $0 [--timeout SECS] [--stdin FILE] <program.exe> [args...]" >&2
  exit 2
}

secs=60 input=/dev/null
while (($#)); do
  case $1 in
    --timeout) (($# >= 2)) || usage; secs=$2; shift 2 ;;
    --stdin) (($# >= 2)) || usage; input=$2; shift 2 ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
{ (($#)) && [[ $secs =~ ^[1-9][0-9]*$ ]]; } || usage

tools=$(dirname "$(readlink -f "$0")")
export KX4_WINE_DIR=${KX4_WINE_DIR:-$PWD/wine}
if ! env=$("$tools/wine-session.sh" env 2>/dev/null); then
  # Quiet unless it fails: the caller may be capturing our stderr.
  if ! msg=$("$tools/wine-session.sh" start 2>&1); then
    echo "$msg" >&2
    exit 125
  fi
  env=$("$tools/wine-session.sh" env)
fi
eval "$env"

# wine double-forks each Windows child process into a unix session of its
# own, so a process-group kill misses them; they all inherit the unix
# environment, though, so this run's marker finds the whole tree.
run="$$-$RANDOM$RANDOM"
kill_tree() {
  local f pids=()
  for f in $(grep -lzxsF "KX4_WINE_RUN=$run" /proc/[0-9]*/environ || true); do
    f=${f#/proc/}
    pids+=("${f%/environ}")
  done
  ((${#pids[@]} == 0)) || kill -KILL "${pids[@]}" 2>/dev/null || true
}

# In the background so that `wait` (unlike a foreground command) lets the
# trap run at once on Ctrl-C or TERM.
start=$SECONDS
KX4_WINE_RUN=$run timeout -k 5 "$secs" /usr/lib/wine/wine64 "$@" <"$input" &
pid=$!
trap 'kill -TERM "$pid" 2>/dev/null; kill_tree; exit 130' INT TERM HUP

rc=0
wait "$pid" || rc=$?
# timeout(1) answers 124 (or 137 after the KILL); the elapsed time tells it
# apart from a program that exits with 124 by itself.
if ((rc == 124 || rc == 137)) && ((SECONDS - start >= secs)); then
  kill_tree
  echo "wine-run: time-out after $secs s" >&2
  exit 124
fi
exit "$rc"
