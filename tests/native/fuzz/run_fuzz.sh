#!/usr/bin/env bash
# Builds the package fuzz target with clang (libFuzzer, ASan, UBSan) and runs
# it on one core. New inputs go to a scratch directory, never to corpus/;
# a crash is written to crashes/, which CTest replays on every run.
#   run_fuzz.sh [SECONDS] [extra libFuzzer flags...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
seconds=${1:-600}
shift || true
build=$top/build/fuzz
work=$top/build/fuzz-work

# Not part of CI's setup: only this script needs clang and its runtimes.
if ! command -v clang++ >/dev/null || [[ ! -f $(clang++ --print-runtime-dir)/libclang_rt.fuzzer-x86_64.a ]]; then
  echo "run_fuzz.sh: needs clang-14 and libclang-rt-14-dev (apt-get install clang-14 libclang-rt-14-dev)" >&2
  exit 1
fi
CC=clang CXX=clang++ cmake -G Ninja -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target package_fuzz
mkdir -p "$work"
"$build/tests/native/package_fuzz" "$work" "$here/corpus" \
  -dict="$here/package.dict" -max_len=20000 -max_total_time="$seconds" \
  -artifact_prefix="$here/crashes/" -print_final_stats=1 "$@"
