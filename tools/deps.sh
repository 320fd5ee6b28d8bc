#!/usr/bin/env bash
# Builds the third-party libraries of the modules for Windows from Debian's
# source packages (versions in tools/deps.versions), static, into a cache
# outside the source tree:
#
#   tools/deps.sh <x64|x86> [library...]      (default: every library)
#
#   $KX4_DEPS_CACHE (default /var/cache/kx4-deps)
#     <lib>-<version>-<arch>/   include/ lib/ [bin/] and .kx4-stamp
#     src/<package>_<version>/  the downloaded source package
#     logs/<lib>-<version>-<arch>.log
#
# An entry is trusted only when its stamp matches this script's recipe for
# it; a matching entry is not touched. A library is built in a temporary
# directory that is renamed into place, stamp included, only when its build
# has succeeded: an interrupted or failed build leaves nothing a later run
# would trust. A failure stops the run and shows the end of its log.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cache=${KX4_DEPS_CACHE:-/var/cache/kx4-deps}
jobs=${KX4_DEPS_JOBS:-2}   # the build machines have 2 cores, shared

usage() { echo "usage: $0 <x64|x86> [$(awk '!/^#/ && NF {printf "%s ", $1}' "$top/tools/deps.versions")]" >&2; exit 2; }
(($# >= 1)) || usage
arch=$1; shift
case $arch in
  x64) triplet=x86_64-w64-mingw32 ;;
  x86) triplet=i686-w64-mingw32 ;;
  *) usage ;;
esac

declare -A package version
order=()
while read -r name pkg ver; do
  [[ -z $name || $name == \#* ]] && continue
  package[$name]=$pkg version[$name]=$ver order+=("$name")
done <"$top/tools/deps.versions"
wanted=("$@")
((${#wanted[@]})) || wanted=("${order[@]}")
for name in "${wanted[@]}"; do [[ -n ${package[$name]:-} ]] || usage; done

# The cross tool chain every recipe uses. Windows 7 is the oldest target, as
# for the programs themselves.
CC="$triplet-gcc-posix"
CFLAGS="-O2 -D_WIN32_WINNT=0x0601"
toolchain_id="$($CC --version | head -n 1); $CFLAGS"

# --- recipes: each runs in the unpacked source ($src) and installs into
# --- $prefix (include/, lib/, bin/). Output goes to the log.

recipe_libpng() {
  # zlib is Debian's MinGW build, linked statically (libz.a, not the DLL's
  # import library).
  cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$triplet.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS="$CFLAGS" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DZLIB_LIBRARY="/usr/$triplet/lib/libz.a" -DZLIB_INCLUDE_DIR="/usr/$triplet/include" \
    -DSKIP_INSTALL_PROGRAMS=ON -DSKIP_INSTALL_FILES=ON
  cmake --build build -j"$jobs"
  cmake --install build
  rm -rf "$prefix/bin" "$prefix/lib/libpng"
}

recipe_openssl() {
  # Only the two libraries: no DLLs, no loadable providers, no programs.
  local target=mingw64
  if [[ $arch == x86 ]]; then
    target=mingw
    # Debian's pic.patch makes the 32-bit assembler code position
    # independent the ELF way (GOT, PLT), which COFF cannot represent.
    patch -R -p1 <debian/patches/pic.patch
  fi
  ./Configure "$target" --cross-compile-prefix="$triplet-" CC=gcc-posix \
    --prefix="$prefix" --libdir=lib \
    no-shared no-module no-tests no-ui-console no-capieng \
    -D_WIN32_WINNT=0x0601
  # The directories compiled in are Windows paths that only administrators
  # can write (OpenSSL's own Windows default), never this build's prefix:
  # a configuration file found there would be loaded.
  local dir="C:/Program Files/Common Files/SSL"
  make -j"$jobs" build_libs OPENSSLDIR="$dir" ENGINESDIR="$dir/engines-3" MODULESDIR="$dir/modules"
  make install_dev
}

recipe_sqlite() {
  # The amalgamation is generated natively (tclsh), then compiled once for
  # Windows, thread-safe.
  ./configure --disable-tcl
  make -j"$jobs" sqlite3.c
  $CC $CFLAGS -DSQLITE_THREADSAFE=1 -c sqlite3.c -o sqlite3.o
  mkdir -p "$prefix/include" "$prefix/lib"
  "$triplet-ar" rcs "$prefix/lib/libsqlite3.a" sqlite3.o
  cp sqlite3.h sqlite3ext.h "$prefix/include/"
}

recipe_netsnmp() {
  # The client library only: no agent, no programs, no MIB parser, no
  # privacy (it would need OpenSSL). No config file is ever read on
  # Windows: the module turns reading and persisting off at run time.
  # configure puts -D_WIN32_WINNT=0xffff first in CPPFLAGS; ours must undo
  # it there, since a redefinition warning fails its -Werror checks.
  ./configure --host="$triplet" --build="$(./config.guess)" CC="$CC" CFLAGS="-O2" \
    CPPFLAGS="-U_WIN32_WINNT -D_WIN32_WINNT=0x0601" --prefix="$prefix" --disable-shared --enable-static --with-defaults \
    --disable-agent --disable-applications --disable-manuals --disable-scripts \
    --disable-mibs --disable-mib-loading --disable-privacy --without-openssl \
    --disable-embedded-perl --without-perl-modules --without-python-modules \
    --without-rpm --without-pcre --disable-debugging \
    --with-persistent-directory='C:/kx4/snmp' --with-default-snmp-version=1
  make -j"$jobs" -C snmplib
  make -C snmplib installlibs
  make installheaders
}

recipe_libusb() {
  # Static for linking in, and a DLL too: the release ships libusb (LGPL)
  # as its own DLL so that users can replace it. -static-libgcc keeps the
  # DLL free of GCC's runtime DLLs.
  ./configure --host="$triplet" --build="$(./config.guess)" CC="$CC -static-libgcc" \
    CFLAGS="$CFLAGS" --prefix="$prefix" --enable-static --enable-shared \
    --disable-examples-build --disable-tests-build
  make -j"$jobs"
  make install
}

# --- machinery

log() { echo "deps: $*" >&2; }

# Source package, downloaded once per version into the cache.
fetch() {  # name -> prints the .dsc path
  local pkg=${package[$1]} ver=${version[$1]}
  local dir="$cache/src/${pkg}_${ver#*:}" dsc
  if [[ ! -f $dir/.complete ]]; then
    rm -rf "$dir.tmp"
    mkdir -p "$dir.tmp"
    log "downloading source package $pkg=$ver"
    if ! (cd "$dir.tmp" && apt-get source -q --download-only "$pkg=$ver") >"$dir.tmp/fetch.log" 2>&1; then
      tail -n 20 "$dir.tmp/fetch.log" >&2
      log "apt-get source $pkg=$ver failed (deb-src entries: tools/setup.sh; offered: apt-cache showsrc $pkg)"
      exit 1
    fi
    touch "$dir.tmp/.complete"
    rm -rf "$dir"
    mv "$dir.tmp" "$dir"
  fi
  dsc=$(ls "$dir"/*.dsc)
  echo "$dsc"
}

stamp_text() {  # name
  local name=$1
  printf '%s %s %s\n%s\nrecipe %s\n' "$name" "${version[$name]}" "$arch" "$toolchain_id" \
    "$(declare -f "recipe_$name" | sha256sum | cut -c1-16)"
}

entry_of() { local ver=${version[$1]}; echo "$cache/$1-${ver#*:}-$arch"; }

# True when the cache holds this library built by this script's recipe.
fresh() {  # name
  local entry
  entry=$(entry_of "$1")
  [[ -f $entry/.kx4-stamp && $(<"$entry/.kx4-stamp") == "$(stamp_text "$1")" ]]
}

build_one() {  # name
  fresh "$1" && return 0
  local name=$1 entry want
  entry=$(entry_of "$name")
  local key=${entry##*/}
  want=$(stamp_text "$name")
  local dsc
  dsc=$(fetch "$name")
  local work
  work=$(mktemp -d "$cache/.build-$key.XXXXXX")
  local logfile="$cache/logs/$key.log"
  mkdir -p "$cache/logs"
  log "building $key (log: $logfile)"
  local t0=$SECONDS
  # Not inside `if`: bash ignores set -e in a tested subshell.
  local rc=0
  set +e
  (
    set -euxo pipefail
    dpkg-source --no-check -x "$dsc" "$work/src"
    prefix="$work/install"
    mkdir -p "$prefix"
    cd "$work/src"
    "recipe_$name"
    rm -rf "$prefix/share" "$prefix/lib/pkgconfig" "$prefix/lib/cmake" "$prefix/lib"/*.la
    echo "$want" >"$prefix/.kx4-stamp"
  ) </dev/null >"$logfile" 2>&1
  rc=$?
  set -e
  if ((rc)); then
    echo "----- last lines of $logfile -----" >&2
    tail -n 30 "$logfile" | cut -c1-300 >&2
    rm -rf "$work"
    log "building $key FAILED"
    exit 1
  fi
  # Replace a stale entry: between the two renames the entry is absent,
  # never half there.
  [[ -e $entry ]] && mv "$entry" "$work/stale"
  mv "$work/install" "$entry"
  rm -rf "$work"
  log "built $key in $((SECONDS - t0)) s"
}

# A warm cache: nothing to do, nothing touched.
stale=()
for name in "${wanted[@]}"; do fresh "$name" || stale+=("$name"); done
((${#stale[@]})) || exit 0

mkdir -p "$cache"
# One run at a time per cache: concurrent builds would race on the same
# entries (each entry is checked again once the lock is held).
exec 9>>"$cache/.lock"
flock -w 3600 9 || { log "timed out waiting for $cache/.lock"; exit 1; }
# Leftovers of an interrupted run (never trusted, only removed).
rm -rf "$cache"/.build-*
for name in "${stale[@]}"; do
  build_one "$name"
done
