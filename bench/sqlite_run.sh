#!/usr/bin/env bash
# The SQLite benchmark: inserts and a select through kx4db.dll against the
# same SQLite called from plain C (bench/sqlite_baseline.c), in alternating
# processes under wine64, ROUNDS rounds (5). See bench/README.md.
#
#   bench/sqlite_run.sh [build-dir]      build-dir defaults to build/x64
#
# SQLITE_ROWS sets the row count (100000), SQLITE_PAGE the rows of one
# select (50000: 100,000 rows of 5 columns do not fit in the 32 MiB script
# heap at once). The database files go to a temporary folder, removed
# afterwards.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/x64}")
ROWS=${SQLITE_ROWS:-100000} PAGE=${SQLITE_PAGE:-50000} ROUNDS=${ROUNDS:-5}
cmake --build "$build" --target kx4bench_sqlite >/dev/null
export KX4_WINE_DIR=$build/wine
run() { "$root/tools/wine-run.sh" --timeout 600 "$@"; }
win() { echo "Z:${1//\//\\}"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kx4bench-sqlite.XXXXXX")
trap 'rm -rf "$work"' EXIT
export KX4_SQLITE_FILE KX4_SQLITE_ROWS=$ROWS KX4_SQLITE_PAGE=$PAGE KX4_BENCH_MODULE
KX4_SQLITE_FILE=$(win "$work/kx4.db")
KX4_BENCH_MODULE=$(win "$build/bench/kx4bench_module.dll")

for ((r = 1; r <= ROUNDS; r++)); do
  run "$build/bin/kx4test.exe" "$(win "$root/bench/sqlite_bench.js")" | tr -d '\r'
  run "$build/bench/kx4bench_sqlite_baseline.exe" "$(win "$work/c.db")" "$ROWS" "$PAGE" | tr -d '\r'
done > "$work/lines"

python3 - "$work/lines" "$ROWS" "$ROUNDS" "$PAGE" <<'PY'
import statistics, sys
lines, rows, rounds = open(sys.argv[1]).read().split('\n'), int(sys.argv[2]), sys.argv[3]
t, mem = {}, {}
for line in lines:
    f = line.split()
    if len(f) >= 3 and f[1] == 'memory':
        mem.setdefault(f[0], []).append([float(x) for x in f[2:]])
    elif len(f) == 3:
        t.setdefault((f[0], f[1]), []).append(float(f[2]))
def fig(who, name):
    v = t.get((who, name), [])
    return (statistics.median(v), min(v)) if v else (float('nan'), float('nan'))
print('SQLite, %d rows (selects in pages of %s), %s rounds: median and min ms; ratio = C time / kx4 time (1.0 = as fast as C)' % (rows, sys.argv[4], rounds))
for name, goal in (('insert_text', 0.8), ('insert_bound', 0.6), ('select', None)):
    k, c = fig('kx4', name), fig('C', name)
    print('%-13s kx4 %8.1f (min %8.1f)   C %8.1f (min %8.1f)   ratio x%.2f (min x%.2f)%s' % (
        name, k[0], k[1], c[0], c[1], c[0] / k[0], c[1] / k[1], '   goal >= x%.1f' % goal if goal else ''))
p = fig('C', 'insert_prepared')
print('%-13s C %8.1f (min %8.1f): one statement prepared once, for scale' % ('prepared', p[0], p[1]))
s, sc, h, sr = fig('kx4', 'select'), fig('kx4', 'select_count'), fig('kx4', 'handoff'), fig('kx4', 'script_rows')
cs = fig('C', 'select')
print('select, where the time goes (medians, ms): total %.1f = SQLite in C %.1f + heap handoff per row %.1f'
      ' + building %d row objects %.1f; script building the same objects itself: %.1f;'
      ' count(*) through kx4: %.1f' % (s[0], cs[0], h[0], rows, s[0] - cs[0] - h[0], sr[0], sc[0]))
for who in ('kx4', 'C'):
    m = mem.get(who)
    if m:
        peak = statistics.median(x[0] for x in m)
        priv = statistics.median(x[1] for x in m)
        extra = ' (before the select %.1f)' % statistics.median(x[2] for x in m) if len(m[0]) > 2 else ''
        print('memory %-3s peak working set %.1f MiB, private %.1f MiB after the (first) select%s' % (who, peak, priv, extra))
PY
