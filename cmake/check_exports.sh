#!/usr/bin/env bash
# A module exports initModule and nothing else, and, being linked
# statically, imports no compiler runtime DLL (libgcc, libstdc++,
# libwinpthread): only system DLLs (and the third-party DLLs that a
# module's licence asks to ship apart, libusb-1.0.dll).
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
runtime='^lib(gcc|stdc\+\+|winpthread)'
if grep -qiE "$runtime" <<<"$imports"; then
  echo "check_exports: imports a runtime DLL: $(grep -iE "$runtime" <<<"$imports" | tr '\n' ' ')" >&2
  bad=1
fi
echo "exports: $exports"
echo "imports: $(tr '\n' ' ' <<<"$imports")"
exit $bad
