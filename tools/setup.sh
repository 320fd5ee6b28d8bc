#!/usr/bin/env bash
# Install the cross tool chain, wine64 and the test helpers on Debian 12.
# Idempotent: when every package is already installed, apt is not touched,
# so a warm run costs only one dpkg-query.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  gcc-mingw-w64-x86-64-posix gcc-mingw-w64-i686-posix
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  mingw-w64-x86-64-dev mingw-w64-i686-dev
  wine64 xvfb xauth duktape-dev libz-mingw-w64-dev
  cmake make ninja-build python3 g++ ca-certificates socat zlib1g-dev
)

# dpkg-query prints nothing (and complains on stderr) for unknown packages;
# only status "ii" (wanted: install, state: installed) counts as present.
missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
  [[ $status == ii* ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  echo "setup: all ${#packages[@]} packages already installed"
  exit 0
fi

as_root=()
if ((EUID != 0)); then
  command -v sudo >/dev/null || { echo "setup: must run as root (no sudo found)" >&2; exit 1; }
  as_root=(sudo)
fi

export DEBIAN_FRONTEND=noninteractive
echo "setup: installing ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -q --no-install-recommends "${missing[@]}"
echo "setup: done"
