#!/usr/bin/env bash
# The Socket benchmark: HTTP requests per second, bulk TCP and TLS
# throughput, TLS handshakes and memory per connection, kx4 against plain C
# (Winsock and OpenSSL) under wine, with native peers on 127.0.0.1. See
# bench/README.md.
#
#   bench/socket_run.sh [build-dir]      build-dir defaults to build/x64
#
# SOCKET_ROUNDS (3), SOCKET_HTTP_SECONDS (4), SOCKET_BULK (bytes, 100 MiB),
# SOCKET_HANDSHAKES (200) and SOCKET_IDLE (20) change the sizes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/x64}")
cmake --build "$build" --target kx4bench_socket >/dev/null
load=$build/bench/socket_load
cc -O2 -pthread -o "$load" "$root/bench/socket_load.c"
export KX4_WINE_DIR=$build/wine
exec python3 "$root/bench/socket_run.py" "$build" "$load"
