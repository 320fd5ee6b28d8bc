#!/usr/bin/env bash
# The main job: sets up this machine, builds kx4.exe for x64 and runs it
# under wine64. kx4.exe runs its start-up script; until the package reader
# and the File class land, that script reports the missing class in a
# console window and waits for a key. This shows that console's text and
# presses the key, then prints kx4.exe's exit code.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

tools/setup.sh
tools/build.sh x64
export KX4_WINE_DIR=$top/build/x64/wine
bin=build/x64/bin
set +e
tools/wine-run.sh --timeout 60 "$bin/kx4conprobe.exe" --timeout 30000 \
  --expect-re 'startupScript' --keys '\n' -- "$bin/kx4.exe"
code=$?
set -e
echo "kx4.exe exit code: $code"
exit "$code"
