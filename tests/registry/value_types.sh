#!/usr/bin/env bash
# Values the runtime cannot write itself (other types, data without a
# terminating zero, odd byte counts) are made with wine's reg.exe under a key
# of this run's own; value_types.js then reads them with getRegistry. The
# key is removed afterwards whatever the outcome.
#
#   value_types.sh <kx4test.exe> <check.js> <value_types.js>
set -uo pipefail

here=$(dirname "$(readlink -f "$0")")
wine_run=$here/../../tools/wine-run.sh
(($# == 3)) || { echo "usage: $0 <kx4test.exe> <check.js> <value_types.js>" >&2; exit 2; }

key="Software\\kx4-test-types-$$-$RANDOM"
# reg.exe quietly; its output is shown when it fails.
reg() {
  local out
  out=$("$wine_run" reg.exe "$@" 2>&1) && return 0
  echo "value_types: reg.exe $1 failed: $out" >&2
  return 1
}
trap 'reg delete "HKCU\\$key" /f' EXIT

# 4096 bytes "A\0" x 2048: fills the first read buffer with no zero after it.
full=$(printf '4100%.0s' $(seq 2048))
# name, type, data; value_types.js holds what each must read as.
values=(
  sz REG_SZ 'plain text'
  dword REG_DWORD 0x00420041
  dword_high_first REG_DWORD 0x00000100
  dword_zero REG_DWORD 0
  binary REG_BINARY 41004200
  binary_odd REG_BINARY 410042
  binary_one_byte REG_BINARY 41
  binary_empty REG_BINARY ''
  binary_4096 REG_BINARY "$full"
  binary_4097 REG_BINARY "${full}42"
  multi REG_MULTI_SZ 'one\0two'
  expand REG_EXPAND_SZ '%SystemRoot%\x'
)
for ((i = 0; i < ${#values[@]}; i += 3)); do
  reg add "HKCU\\$key" /v "${values[i]}" /t "${values[i + 1]}" /d "${values[i + 2]}" /f || exit 1
done

KX4_REG_TYPES_KEY=$key "$wine_run" "$@"
