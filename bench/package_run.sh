#!/usr/bin/env bash
# The package and File benchmarks (bench/README.md): extract throughput
# against zlib in C, File.read and File.write against fread and fwrite, and
# the start-up of the packaged example application against the empty one.
# Called by bench/run.sh; alone:
#
#   bench/package_run.sh [build-dir]      build-dir defaults to build/x64
#
# Each kx4 figure is timed next to its C baseline: the two programs run
# alternately REPEATS times (3), and the comparison takes each one's best
# median and best minimum, which other load on the machine disturbs least.
# PACKAGE_ROUNDS (15), IO_ROUNDS (7) and START_RUNS (40) set the rounds.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/x64}")
bench=$build/bench bin=$build/bin
work=$bench/package
REPEATS=${REPEATS:-3} PACKAGE_ROUNDS=${PACKAGE_ROUNDS:-15} IO_ROUNDS=${IO_ROUNDS:-7}
START_RUNS=${START_RUNS:-40}

cmake --build "$build" --target kx4bench >/dev/null
export KX4_WINE_DIR=$build/wine
win() { echo "Z:${1//\//\\}"; }  # the prefix maps Z: to /
export KX4_BENCH_MODULE
KX4_BENCH_MODULE=$(win "$bench/kx4bench_module.dll")
results=$work/results.txt

# run SHOW program args...: runs it under wine; keeps its "@ key value"
# lines for the comparison and shows the others when SHOW is 1.
run() {
  local show=$1
  shift
  "$root/tools/wine-run.sh" --timeout 900 "$@" | tr -d '\r' >"$work/out.txt"
  ((show)) && { grep -v '^@ ' "$work/out.txt" || true; }
  grep '^@ ' "$work/out.txt" >>"$results" || true
}
# The lowest value recorded under a key, over all repeats.
best() { awk -v k="$1" '$1 == "@" && $2 == k && (v == "" || $3 < v) { v = $3 } END { print v }' "$results"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "x%.2f", a / b }'; }
# "x<median ratio> (min x<min ratio>)" of baseline key $1 over kx4 key $2.
compare() { echo "$(ratio "$(best "$1")" "$(best "$2")") (min $(ratio "$(best "$1.min")" "$(best "$2.min")"))"; }
pack() { python3 "$root/tools/kx4pack.py" build --exe "$bin/kx4.exe" "$@" >/dev/null; }

rm -rf "$work"
mkdir -p "$work"
: >"$results"
echo "(kx4 and its C baseline run alternately $REPEATS times; the figures shown are the first run's)"

echo "== Package extract"
run 1 "$bench/kx4bench_package.exe" generate "$(win "$work/app")"
pack --from "$work/app" --time 1700000000000 -o "$work/app.exe"
python3 "$root/tools/kx4pack.py" list "$work/app.exe" |
  awk 'NR > 2 { i = $5 ~ /^images/; n[i]++; s[i] += $2; c[i] += $3 }
       END { printf "  packed: text %d entries, %d bytes -> %d (%.0f%%); binary %d entries, %d bytes -> %d (%.0f%%)\n",
             n[0], s[0], c[0], 100 * c[0] / s[0], n[1], s[1], c[1], 100 * c[1] / s[1] }'
for ((r = 0; r < REPEATS; r++)); do
  show=$((r == 0))
  run $show "$bench/kx4bench_package.exe" extract "$(win "$work/app.exe")" "$PACKAGE_ROUNDS"
  KX4_BENCH_PACKAGE=$(win "$work/app.exe") KX4_BENCH_ROUNDS=$PACKAGE_ROUNDS \
    run $show "$bin/kx4test.exe" "$(win "$root/bench/common.js")" "$(win "$root/bench/package_extract.js")"
done

echo "== File.read and File.write"
run 1 "$bench/kx4bench_package.exe" files "$(win "$work")" $((16 << 20))
for ((r = 0; r < REPEATS; r++)); do
  show=$((r == 0))
  KX4_BENCH_DIR=$(win "$work") KX4_BENCH_ROUNDS=$IO_ROUNDS \
    run $show "$bin/kx4test.exe" "$(win "$root/bench/common.js")" "$(win "$root/bench/package_io.js")"
  # The C baseline moves as many bytes as the script could.
  run $show "$bench/kx4bench_package.exe" io "$(win "$work")" "$IO_ROUNDS" "$(best kx4.size.ascii)" \
    "$(best kx4.size.random)"
done

echo "== Start-up of the packaged example"
mkdir -p "$work/minimal/scripts" "$work/inventory"
echo "// the smallest application: one script that does nothing" >"$work/minimal/scripts/autorun.js"
pack --from "$root/examples/inventory" --manifest "$root/examples/inventory/kx4pack.json" \
  -o "$work/inventory/inventory.exe"
pack --from "$work/minimal" -o "$work/minimal.exe"
: >"$work/empty.js"
# inventory: the example (report, compressed log written and read back);
# empty: kx4test.exe with an empty script; packaged: kx4.exe with a package
# whose autorun.js does nothing. Under wine the children write to the
# launcher's standard output too: only the launcher's table is shown.
"$root/tools/wine-run.sh" --timeout 900 "$bench/kx4bench_launch.exe" "$START_RUNS" \
  inventory "$(win "$work/inventory/inventory.exe")" \
  empty "$(win "$bin/kx4test.exe") $(win "$work/empty.js")" \
  packaged "$(win "$work/minimal.exe")" | tr -d '\r' | sed -n '/timed runs and/,$p'

echo "== Package and File: kx4 throughput over C's (x1.00: as fast), best of $REPEATS runs"
for g in text binary all; do
  printf '  File.extract %-6s  over uncompress from memory %-18s over fseek+fread+uncompress %s\n' \
    "$g" "$(compare c.inflate.$g kx4.extract.$g)" "$(compare c.read.$g kx4.extract.$g)"
done
echo "  (goal: x0.80 over uncompress from memory)"
for kind in ascii random; do
  printf '  %-6s %4.1f MiB   File.write over fwrite %-18s File.read over fread %s\n' "$kind" \
    "$(awk -v n="$(best kx4.size.$kind)" 'BEGIN { print n / 1048576 }')" \
    "$(compare c.write.$kind kx4.write.$kind)" "$(compare c.read.$kind kx4.read.$kind)"
done
echo "  (goal: x0.70)"
printf '  peak working set: extract kx4 %.1f MiB, C %.1f MiB; read/write kx4 %.1f MiB, C %.1f MiB\n' \
  "$(best kx4.extract.peak_ws)" "$(best c.extract.peak_ws)" "$(best kx4.io.peak_ws)" "$(best c.io.peak_ws)"
