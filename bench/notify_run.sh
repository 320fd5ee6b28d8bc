#!/usr/bin/env bash
# Start-to-exit time of kx4notify.exe against the trivial C program under
# wine64, and against the floor of any Windows Runtime program
# (winrt_baseline.c: RoInitialize and RoUninitialize only): a toast run (against the test double of the toast classes,
# tests/notify/toast_double.cpp, registered in the prefix as the tests do;
# wine has no toast classes) and an install run that finds its shortcut
# present (the common case: every start of the application asks).
#
#   bench/notify_run.sh [build-dir]      build-dir defaults to build/x64
#
# START_RUNS (40) timed runs of each, interleaved. The double stays
# registered afterwards, as after the tests, and the shortcut
# kx4bench-notify.lnk stays in the prefix's Start menu.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/x64}")
START_RUNS=${START_RUNS:-40}
cmake --build "$build" --target kx4bench_notify >/dev/null
export KX4_WINE_DIR=$build/wine
run() { "$root/tools/wine-run.sh" --timeout 900 "$@"; }
win() { echo "Z:${1//\//\\}"; }

notify=$(win "$build/bin/kx4notify.exe")
tests=$build/tests/notify
run "$tests/kx4notifyprobe.exe" register "$(win "$tests/kx4toastdouble.dll")"
link=kx4bench-notify.lnk
run "$build/bin/kx4notify.exe" -install "$link" || true   # exit code 1 by design

baselines=(trivial "$(win "$build/bench/kx4bench_trivial.exe")"
           winrt "$(win "$build/bench/kx4bench_winrt_baseline.exe")")
image=$(win "$root/platforms/win32/kx4notify/kx4notify.exe.manifest")  # any file: nothing reads it
echo "== kx4notify start-to-exit (toast)"
run "$build/bench/kx4bench_launch.exe" "$START_RUNS" \
  toast "$notify \"$image\" \"Power failure\" \"Shutdown in 5 minutes\"" "${baselines[@]}"
echo "== kx4notify start-to-exit (install, shortcut present)"
run "$build/bench/kx4bench_launch.exe" "$START_RUNS" install "$notify -install $link" "${baselines[@]}"
