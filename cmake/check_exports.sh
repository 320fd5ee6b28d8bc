#!/usr/bin/env bash
# A module exports initModule and nothing else, and, being linked
# statically, imports no compiler runtime DLL (libgcc, libstdc++,
# libwinpthread): only system DLLs.
#
#   check_exports.sh <objdump> <module.dll>
set -uo pipefail
objdump=$1 dll=$2

headers=$("$objdump" -p "$dll") || { echo "check_exports: cannot read $dll" >&2; exit 1; }
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | sed -n 's/^\s*\[ *[0-9]*\] //p')
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers")

bad=0
if [[ $exports != initModule ]]; then
  echo "check_exports: exports are [$(tr '\n' ' ' <<<"$exports")], expected [initModule]" >&2
  bad=1
fi
if grep -qiE '^lib' <<<"$imports"; then
  echo "check_exports: imports a runtime DLL: $(grep -iE '^lib' <<<"$imports" | tr '\n' ' ')" >&2
  bad=1
fi
echo "exports: $exports"
echo "imports: $(tr '\n' ' ' <<<"$imports")"
exit $bad
