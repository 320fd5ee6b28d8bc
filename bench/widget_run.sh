#!/usr/bin/env bash
# The Widget benchmark: events per second into Widget.onEvent, paints of a
# 256x256 image, and decodes of a 1024x1024 RGBA PNG, each against plain C
# doing the same (widget_baseline.c), as ratios; then memory and handles per
# window. Each pair runs RUNS times (3), interleaved; minimum times count.
#
#   bench/widget_run.sh [build-dir]      build-dir defaults to build/x64
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/x64}")
RUNS=${RUNS:-3} EVENTS=${EVENTS:-20000} PAINTS=${PAINTS:-500} DECODES=${DECODES:-10}
cmake --build "$build" --target kx4bench_widget >/dev/null
export KX4_WINE_DIR=$build/wine
"$root/tools/wine-session.sh" start >/dev/null
eval "$("$root/tools/wine-session.sh" env)"
bench=$build/bench bin=$build/bin
run() { "$root/tools/wine-run.sh" --timeout 600 "$@"; }
win() { echo "Z:${1//\//\\}"; }

png=$bench/widget_1024.png
[[ -f $png ]] || python3 - "$png" <<'PY'
import struct, sys, zlib
def chunk(k, d): return struct.pack('>I', len(d)) + k + d + struct.pack('>I', zlib.crc32(k + d))
w = h = 1024
rows = b''.join(b'\0' + bytes((x * 3 + y) & 255 if c < 3 else (x ^ y) & 255
                              for x in range(w) for c in range(4)) for y in range(h))
open(sys.argv[1], 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0)) +
                              chunk(b'IDAT', zlib.compress(rows, 6)) + chunk(b'IEND', b''))
PY

script=$(win "$root/bench/widget_bench.js")
kx4() { KX4_WIDGET_BENCH="$*" run "$bin/kx4test.exe" "$script"; }
# measure <key> <command...>: keeps every time and the smallest (third field).
declare -A best
measure() {
  local key=$1; shift
  local t
  t=$("$@" | awk 'NF == 3 {print $3}' | tail -1)
  [[ -n $t ]] || { echo "widget_run: no time from $key" >&2; return 1; }
  all[$key]+="$t "
  if [[ -z ${best[$key]:-} ]] || awk "BEGIN{exit !($t < ${best[$key]})}"; then best[$key]=$t; fi
}
declare -A all
for ((r = 0; r < RUNS; r++)); do
  measure kx4_events kx4 events "$EVENTS"
  measure c_events run "$bench/kx4bench_widget_baseline.exe" events "$EVENTS"
  measure kx4_paint kx4 paint "$PAINTS"
  measure c_paint run "$bench/kx4bench_widget_baseline.exe" paint "$PAINTS"
  measure kx4_decode kx4 decode "$DECODES" "$(win "$png")"
  measure c_decode run "$bench/kx4bench_widget_baseline.exe" decode "$DECODES" "$(win "$png")"
done

report() {  # name count unit kx4key ckey
  awk -v name="$1" -v n="$2" -v unit="$3" -v k="${best[$4]}" -v c="${best[$5]}" -v ka="${all[$4]}" -v ca="${all[$5]}" 'BEGIN {
    printf "%-7s kx4 %8.0f %s (min %.0f ms; runs %s)  C %8.0f %s (min %.0f ms; runs %s)  ratio x%.2f\n",
      name, n * 1000 / k, unit, k, ka, n * 1000 / c, unit, c, ca, c / k }'
}
echo "== Widget: rates from the fastest of $RUNS runs; ratio = kx4 rate / C rate"
report events "$EVENTS" events/s kx4_events c_events
report paint "$PAINTS" paints/s kx4_paint c_paint
report decode "$DECODES" decodes/s kx4_decode c_decode
kx4 memory 200
