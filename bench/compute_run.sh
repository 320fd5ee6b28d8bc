#!/usr/bin/env bash
# The compute kernels (bench/compute.js) under kx4 and under wine's
# cscript.exe, side by side, in one run; prints each kernel's median ms
# under both and the ratio kx4/cscript (below 1: kx4 is faster).
#
#   bench/compute_run.sh [build-dir]      build-dir defaults to build/x64
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/x64}")
export KX4_WINE_DIR=$build/wine
session=$root/tools/wine-session.sh
"$session" start 2>/dev/null || { echo "the wine session did not start: see $KX4_WINE_DIR" >&2; exit 1; }
eval "$("$session" env)"
script="Z:${root//\//\\}\\bench\\compute.js"
kx4=$("$root/tools/wine-run.sh" --timeout 600 "$build/bin/kx4test.exe" "$script" | tr -d '\r')
if [[ -e $WINEPREFIX/drive_c/windows/system32/cscript.exe ]]; then
  cscript=$("$root/tools/wine-run.sh" --timeout 600 cscript.exe //nologo "$script" 2>/dev/null | tr -d '\r')
else
  cscript=''
  echo "  (no cscript.exe in the wine prefix: kx4 alone)"
fi
python3 - "$kx4" "$cscript" <<'PY'
import sys
def parse(text):
    out = {}
    for line in text.splitlines():
        if line.startswith('kernel '):
            name, ms = line[7:].rsplit(' ', 1); out[name] = float(ms)
        elif line.startswith('total '):
            out['total'] = float(line.split()[1])
    return out
k, c = parse(sys.argv[1]), parse(sys.argv[2])
if not k: sys.exit('kx4 printed no figures:\n' + sys.argv[1])
print('  %-26s %9s %9s %8s' % ('kernel', 'kx4 ms', 'cscript', 'ratio'))
for name in list(k):
    if name == 'total': continue
    cs = c.get(name)
    print('  %-26s %9.0f %9s %8s' % (name, k[name], '%.0f' % cs if cs is not None else '-',
          'x%.2f' % (k[name] / cs) if cs else '-'))
shared = [n for n in k if n != 'total' and n in c]
if shared:
    kt, ct = sum(k[n] for n in shared), sum(c[n] for n in shared)
    print('  %-26s %9.0f %9.0f %8s' % ('total (shared kernels)', kt, ct, 'x%.2f' % (kt / ct) if ct else '-'))
PY
