#!/usr/bin/env bash
# The Serial benchmark: round trip of a one-byte request and its 16-byte
# answer with the simulated UPS (tests/serial/ups_sim.py), kx4 against plain
# C, and the CPU time that a read waiting for bytes costs. See
# bench/README.md.
#
#   bench/serial_run.sh [build-dir]      build-dir defaults to build/x64
#
# Sets up the peer with tests/serial/run_serial.py (socat, the simulator and
# the prefix's COM5 link) in the build tree's wine session.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
N=${SERIAL_N:-200} POLLS=${SERIAL_POLLS:-3000}

if [[ ${1:-} == --inner ]]; then
  build=$2
  bench=$build/bench bin=$build/bin
  run() { "$root/tools/wine-run.sh" --timeout 300 "$@"; }
  win() { echo "Z:${1//\//\\}"; }
  # CPU seconds (user + system) of this prefix's wineserver: the polling
  # costs it work too, since every device call goes through it.
  server_ticks() {
    local p
    for p in $(pgrep -x wineserver64 || pgrep -x wineserver || true); do
      if grep -qzxsF "WINEPREFIX=$WINEPREFIX" "/proc/$p/environ"; then
        awk '{print $14 + $15}' "/proc/$p/stat"
        return
      fi
    done
    echo 0
  }
  hz=$(getconf CLK_TCK)
  eval "$("$root/tools/wine-session.sh" env)"
  export KX4_SERIAL_CLOCK KX4_SERIAL_BENCH KX4_SERIAL_N=$N KX4_SERIAL_POLLS=$POLLS
  KX4_SERIAL_CLOCK=$(win "$bench/kx4bench_serial_clock.dll")
  script=$(win "$root/bench/serial_bench.js")

  echo "== Round trip: 'Q' out, 16 bytes back ($N exchanges)"
  KX4_SERIAL_BENCH=roundtrip run "$bin/kx4test.exe" "$script"
  run "$bench/kx4bench_serial_baseline.exe" "$KX4_SERIAL_PORT" "$N" poll
  run "$bench/kx4bench_serial_baseline.exe" "$KX4_SERIAL_PORT" "$N" block

  echo "== A read waiting for bytes that do not come ($POLLS polls)"
  s0=$(server_ticks)
  KX4_SERIAL_BENCH=idle run "$bin/kx4test.exe" "$script"
  s1=$(server_ticks)
  run "$bench/kx4bench_serial_baseline.exe" "$KX4_SERIAL_PORT" "$POLLS" idle
  s2=$(server_ticks)
  echo "wineserver CPU meanwhile: $(( (s1 - s0) * 1000 / hz )) ms during the kx4 run (start-up included)," \
       "$(( (s2 - s1) * 1000 / hz )) ms during the C run"
  exit 0
fi

build=$(realpath "${1:-$root/build/x64}")
cmake --build "$build" --target kx4bench_serial >/dev/null
export KX4_WINE_DIR=$build/wine
exec python3 "$root/tests/serial/run_serial.py" --timeout 900 -- "$0" --inner "$build"
