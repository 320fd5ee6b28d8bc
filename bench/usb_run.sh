#!/usr/bin/env bash
# The USB benchmark: per-call cost of USB#send and USB#getAnswer against the
# simulated UPS of the tests, next to the same libusb calls from plain C, so
# that what kx4hid.dll and the engine add is visible. See bench/README.md.
#
#   bench/usb_run.sh [build-dir]      build-dir defaults to build/x64
#
# USB_N calls per round (100000), USB_ROUNDS rounds (5), USB_REPEATS runs of
# each side, alternating (3).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/x64}")
N=${USB_N:-100000} ROUNDS=${USB_ROUNDS:-5} REPEATS=${USB_REPEATS:-3}

cmake --build "$build" --target usb_sim_folder >/dev/null
sim=$build/tests/usb/sim
out=$build/bench/usb
mkdir -p "$out"
# The baseline beside the simulated library, linked as the module is: with
# libusb-1.0's import library, so it loads libusb-1.0.dll by name.
deps=$(ls -d /var/cache/kx4-deps/libusb-*-x64 | tail -1)
x86_64-w64-mingw32-gcc-posix -O2 -Wall -static -I"$deps/include/libusb-1.0" "$root/bench/usb_baseline.c" \
  "$deps/lib/libusb-1.0.dll.a" -o "$sim/usb_baseline.exe"

export KX4_WINE_DIR=$build/wine KX4_USB_SIM_BENCH=1 KX4_USB_N=$N KX4_USB_ROUNDS=$ROUNDS
run() { "$root/tools/wine-run.sh" --timeout 600 "$@"; }
: >"$out/c.txt"
: >"$out/kx4.txt"
for ((i = 0; i < REPEATS; i++)); do
  run "$sim/usb_baseline.exe" "$N" "$ROUNDS" >>"$out/c.txt"
  run "$sim/kx4test.exe" "$root/bench/usb_bench.js" 2>/dev/null | grep -a '^send' >>"$out/kx4.txt"
done

python3 - "$out/c.txt" "$out/kx4.txt" "$N" <<'PY'
import statistics, sys
def load(path):
    rows = [l.split() for l in open(path) if l.startswith('send')]
    return {k: [float(r[r.index(k) + 1]) for r in rows] for k in ('send', 'getAnswer')}, rows
c, _ = load(sys.argv[1])
k, rows = load(sys.argv[2])
col = lambda key: [float(r[r.index(key) + 1]) for r in rows]
loop = col('loop')
floor = {'send': col('floorSend'), 'getAnswer': col('floorGetAnswer')}
print('USB per-call cost, us (%s calls a round, %d rounds each side); empty script loop %.3f us an iteration (min %.3f)'
      % (sys.argv[3], len(rows), statistics.median(loop), min(loop)))
print('%-10s %9s %9s %9s %9s %11s %11s %10s %10s %11s' % ('call', 'C median', 'C min', 'kx4 med', 'kx4 min',
      'extra med', 'extra min', 'floor med', 'floor min', 'module min'))
for name in ('send', 'getAnswer'):
    cm, cn, km, kn = statistics.median(c[name]), min(c[name]), statistics.median(k[name]), min(k[name])
    fm, fn = statistics.median(floor[name]), min(floor[name])
    print('%-10s %9.3f %9.3f %9.3f %9.3f %11.3f %11.3f %10.3f %10.3f %11.3f' %
          (name, cm, cn, km, kn, km - cm, kn - cn, fm, fn, kn - cn - fn))
print('extra: kx4 over C per call (the script loop included); floor: the slot calls alone, in the same loop;')
print('module: extra minus floor, what kx4hid.dll itself adds (heap release, handle look-up, buffer)')
PY
