#!/usr/bin/env bash
# Builds everything: Windows x64 (run and tested under wine64), Windows x86
# (the product's primary target; this machine cannot run it, so it is only
# built), and the native unit tests of the portable code.
#
#   tools/build.sh [x64] [x86] [native]     (default: all three)
#
# Build trees: build/<arch>. Safe to run again: only what changed rebuilds.
# The Windows targets first build their third-party libraries into the
# cache of tools/deps.sh (once; later runs find them there).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

targets=("$@")
((${#targets[@]})) || targets=(x64 x86 native)
deps=${KX4_DEPS_CACHE:-/var/cache/kx4-deps}
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

for t in "${targets[@]}"; do
  case $t in
    x64) toolchain=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-x86_64-w64-mingw32.cmake") ;;
    x86) toolchain=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-i686-w64-mingw32.cmake") ;;
    native) toolchain=() ;;
    *) echo "build.sh: unknown target '$t'" >&2; exit 2 ;;
  esac
  if [[ $t != native ]]; then
    "$top/tools/deps.sh" "$t"
    toolchain+=(-DKX4_DEPS_DIR:PATH="$deps")
  fi
  if [[ ! -f build/$t/CMakeCache.txt ]] ||
     { [[ $t != native ]] && ! grep -qxF "KX4_DEPS_DIR:PATH=$deps" "build/$t/CMakeCache.txt"; }; then
    cmake "${generator[@]}" -S . -B "build/$t" "${toolchain[@]}" >/dev/null
  fi
  echo "build.sh: building $t"
  cmake --build "build/$t" -j"$(nproc)"
done
