#!/usr/bin/env bash
# The main job: sets up this machine, builds kx4.exe for x64, packs the
# example application examples/inventory/ onto it as
# build/x64/examples/inventory.exe and runs that under wine64. Shows the
# application's report and ends with its exit code (0: every check passed).
#
#   tools/run.sh [ARGS...]       ARGS go to inventory.exe, e.g. --min=10
#
# KX4_BUILD_DIR=<dir> uses another (configured) x64 build tree instead of
# build/x64; it is then only rebuilt, not set up.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

if [[ -n ${KX4_BUILD_DIR:-} ]]; then
  build=$(realpath "$KX4_BUILD_DIR")
  cmake --build "$build"
else
  tools/setup.sh
  tools/build.sh x64
  build=$top/build/x64
fi
export KX4_WINE_DIR=$build/wine

app=$build/examples/inventory.exe
mkdir -p "${app%/*}"
echo "run.sh: packing examples/inventory/ onto kx4.exe"
python3 tools/kx4pack.py build --exe "$build/bin/kx4.exe" --from examples/inventory \
  --manifest examples/inventory/kx4pack.json -o "$app"
python3 tools/kx4pack.py verify "$app"

# The program writes its report to standard output (text mode: CR LF).
echo "run.sh: running ${app#"$top"/} under wine64"
echo
set +e
tools/wine-run.sh --timeout 60 "$app" "$@" | tr -d '\r'
code=${PIPESTATUS[0]}
set -e
echo
echo "inventory.exe exit code: $code"
exit "$code"
