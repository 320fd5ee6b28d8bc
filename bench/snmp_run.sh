#!/usr/bin/env bash
# The Snmp benchmark: GET round trips against Debian's snmpd and walks of a
# 1000-variable subtree of the scripted agent (tests/snmp/fake_agent.py),
# kx4 (bench/snmp_bench.js) against plain C (snmp_baseline.c), both under
# wine, alternating in one run. See bench/README.md.
#
#   bench/snmp_run.sh [build-dir]      build-dir defaults to build/x64
#
# The agents come from tests/snmp/run_snmp.py. Prints every sample, then
# per measurement the median and the minimum of each side and their ratios
# (C time / kx4 time: above 1 means kx4 is faster).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
ROUNDS=${SNMP_ROUNDS:-5} GETS=${SNMP_GETS:-500} WALKS=${SNMP_WALKS:-3}

if [[ ${1:-} == --inner ]]; then
  build=$2
  run() { "$root/tools/wine-run.sh" --timeout 300 "$@"; }
  win() { echo "Z:${1//\//\\}"; }
  script=$(win "$root/bench/snmp_bench.js")
  base=$build/bench/kx4bench_snmp_baseline.exe
  {
    for ((r = 0; r < ROUNDS; r++)); do
      KX4_SNMP_BENCH=get KX4_SNMP_N=$GETS run "$build/bin/kx4test.exe" "$script"
      run "$base" "$KX4_SNMPD" "$KX4_SNMP_RO" get .1.3.6.1.2.1.1.1.0 "$GETS"
      KX4_SNMP_BENCH=walk KX4_SNMP_N=$WALKS run "$build/bin/kx4test.exe" "$script"
      run "$base" "$KX4_SNMP_FAKE" public walk .1.3.6.1.4.1.99999.30 "$WALKS"
    done
  } | tr -d '\r' | tee /dev/stderr | python3 -c '
import statistics, sys
t = {}
for line in sys.stdin:
    side, what, count, ms = line.split()
    t.setdefault((what, side), []).append(float(ms) / int(count))  # ms per exchange or row
for what, unit in (("get", "GET round trip"), ("walk", "walked row")):
    k, c = t.get((what, "kx4"), []), t.get((what, "c"), [])
    if not k or not c:
        print("%s: missing samples" % what); continue
    print("%-15s kx4 median %.3f ms, min %.3f ms; C median %.3f ms, min %.3f ms; "
          "ratio C/kx4: median %.2f, min %.2f (%d+%d samples)" % (
          unit, statistics.median(k), min(k), statistics.median(c), min(c),
          statistics.median(c) / statistics.median(k), min(c) / min(k), len(k), len(c)))
'
  exit 0
fi

build=$(realpath "${1:-$root/build/x64}")
cmake --build "$build" --target kx4bench_snmp >/dev/null
export KX4_WINE_DIR=$build/wine
"$root/tools/wine-session.sh" start >/dev/null
exec python3 "$root/tests/snmp/run_snmp.py" -- "$0" --inner "$build"
