#!/usr/bin/env bash
# Runs the kx4 benchmarks under wine64 and prints their figures (see
# bench/README.md for how to read them).
#
#   bench/run.sh [build-dir]      build-dir defaults to build/x64
#
# Builds the bench targets first. Uses the build tree's wine session
# (tools/wine-session.sh) and leaves it running, as the tests do.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/x64}")
bench=$build/bench bin=$build/bin
START_RUNS=${START_RUNS:-40}

cmake --build "$build" --target kx4bench >/dev/null
export KX4_WINE_DIR=$build/wine
run() { "$root/tools/wine-run.sh" --timeout 900 "$@"; }
win() { echo "Z:${1//\//\\}"; }  # the prefix maps Z: to /

echo "== Files"
for f in "$bin/kx4.exe" "$bin/kx4test.exe" "$bench/kx4bench_trivial.exe"; do
  x86_64-w64-mingw32-strip -o "$bench/stripped.exe" "$f"
  stripped=$(stat -c %s "$bench/stripped.exe")
  printf '  %-22s %9d bytes (%d stripped)\n' "${f##*/}" "$(stat -c %s "$f")" "$stripped"
done
rm -f "$bench/stripped.exe"

echo "== Start-up"
# kx4.exe with a packaged application whose autorun.js is empty: the
# product's whole start (bootstrap, package directory, autorun) and
# teardown. Not kx4test.exe: the test runner also disarms the shutdown
# functions, which loads user32.
empty=$bench/empty.js
: >"$empty"
mkdir -p "$bench/startup/scripts"
echo "// does nothing" >"$bench/startup/scripts/autorun.js"
python3 "$root/tools/kx4pack.py" build --exe "$bin/kx4.exe" --from "$bench/startup" \
  -o "$bench/startup.exe" >/dev/null
commands=(kx4 "$(win "$bench/startup.exe")"
          trivial "$(win "$bench/kx4bench_trivial.exe")")
session=$root/tools/wine-session.sh
"$session" start 2>/dev/null || { echo "the wine session did not start: see $KX4_WINE_DIR" >&2; exit 1; }
eval "$("$session" env)"
if [[ -e $WINEPREFIX/drive_c/windows/system32/cscript.exe ]]; then
  commands+=(cscript "cscript.exe //nologo $(win "$empty")")
else
  echo "  (no cscript.exe in the wine prefix: that comparison is left out)"
fi
run "$bench/kx4bench_launch.exe" "$START_RUNS" "${commands[@]}"

export KX4_BENCH_MODULE
KX4_BENCH_MODULE=$(win "$bench/kx4bench_module.dll")
for script in calls strings process_calls; do
  echo "== $script"
  run "$bin/kx4test.exe" "$(win "$root/bench/common.js")" "$(win "$root/bench/$script.js")"
done

echo "== compute (kx4 against cscript)"
"$root/bench/compute_run.sh" "$build"

# The package reader, File.read/File.write and the packaged example.
START_RUNS=$START_RUNS "$root/bench/package_run.sh" "$build"

# The toast notifier's start-to-exit time.
START_RUNS=$START_RUNS "$root/bench/notify_run.sh" "$build"
