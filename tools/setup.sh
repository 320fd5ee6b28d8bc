#!/usr/bin/env bash
# Install the cross tool chain, wine64 and the test helpers on Debian 12.
# Idempotent: when every package is already installed and apt already has
# the Debian source index, apt is not touched and nothing is written.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  gcc-mingw-w64-x86-64-posix gcc-mingw-w64-i686-posix
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  mingw-w64-x86-64-dev mingw-w64-i686-dev
  wine64 xvfb xauth duktape-dev libz-mingw-w64-dev
  cmake make ninja-build python3 g++ ca-certificates socat zlib1g-dev
  # tools/deps.sh: unpacking Debian source packages and building them
  dpkg-dev xz-utils bzip2 perl tcl file
  # native peers of the third-party library tests
  openssl snmpd curl
  snmp  # snmpwalk: tests/snmp compares the module's walk with it
)

# tools/deps.sh takes the libraries' sources with `apt-get source`, which
# needs deb-src entries: add them beside the Debian deb entries, same hosts
# and suites. Prints "changed" when a file was (with --check: would be)
# edited.
enable_deb_src() {
  KX4_CHECK_ONLY=${1:-} python3 - <<'PY'
import glob, os, re
check_only = os.environ['KX4_CHECK_ONLY'] == '--check'
changed = False
# deb822 files: a stanza of Debian's archive gets deb-src in its Types line.
for path in glob.glob('/etc/apt/sources.list.d/*.sources'):
    text = open(path).read()
    stanzas = re.split(r'\n\s*\n', text)
    out = []
    for st in stanzas:
        types = re.search(r'^Types:(.*)$', st, re.M)
        uris = re.search(r'^URIs:(.*)$', st, re.M)
        if types and uris and 'debian' in uris.group(1) and 'deb-src' not in types.group(1).split():
            st = st[:types.end()] + ' deb-src' + st[types.end():]
            changed = True
        out.append(st)
    if changed and not check_only:
        open(path, 'w').write('\n\n'.join(out))
# One-line format: each Debian "deb" line gets its "deb-src" twin.
for path in ['/etc/apt/sources.list'] + glob.glob('/etc/apt/sources.list.d/*.list'):
    try:
        lines = open(path).read().splitlines()
    except FileNotFoundError:
        continue
    have = {l.split(None, 1)[1].strip() for l in lines if l.startswith('deb-src ')}
    add = [l for l in lines if l.startswith('deb ') and 'debian' in l and l.split(None, 1)[1].strip() not in have]
    if add and check_only:
        changed = True
    elif add:
        with open(path, 'a') as f:
            for l in add:
                f.write('deb-src ' + l.split(None, 1)[1] + '\n')
        changed = True
if changed:
    print('changed')
PY
}
have_source_index() { compgen -G '/var/lib/apt/lists/*_source_Sources*' >/dev/null; }

# dpkg-query prints nothing (and complains on stderr) for unknown packages;
# only status "ii" (wanted: install, state: installed) counts as present.
missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
  [[ $status == ii* ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)) && [[ -z $(enable_deb_src --check) ]] && have_source_index; then
  echo "setup: all ${#packages[@]} packages already installed, source index present"
  exit 0
fi

if ((EUID != 0)); then
  command -v sudo >/dev/null || { echo "setup: must run as root (no sudo found)" >&2; exit 1; }
  exec sudo "$0" "$@"
fi

enable_deb_src >/dev/null

export DEBIAN_FRONTEND=noninteractive
apt-get update -q
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
echo "setup: done"
