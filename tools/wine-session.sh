#!/usr/bin/env bash
# Private wine environment for one build tree: an Xvfb display, a wine prefix
# and a persistent wineserver with its desktop, recorded in
# $KX4_WINE_DIR/session.env (KX4_WINE_DIR defaults to $PWD/wine).
#
#   wine-session.sh start   start the session, or reuse the running one
#   wine-session.sh stop    stop wine and Xvfb; the prefix is kept for reuse
#   wine-session.sh env     print the session's `export` lines, for eval
set -euo pipefail

WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
[[ -x $WINESERVER ]] || WINESERVER=/usr/lib/wine/wineserver64

# Absolute: session.env is sourced from anywhere.
dir=$(realpath -m "${KX4_WINE_DIR:-$PWD/wine}")
state=$dir/session.env

log() { echo "wine-session: $*" >&2; }

# Settings every process of the session needs. mscoree/mshtml are disabled
# so that wineboot never offers to install Mono or Gecko.
export WINEPREFIX=$dir/prefix WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="

# Pids of this prefix's processes named $1 (each carries our WINEPREFIX).
prefix_pids() {
  local p
  for p in $(pgrep -x "$1" || true); do
    grep -qzxsF "WINEPREFIX=$WINEPREFIX" "/proc/$p/environ" && echo "$p"
  done
  return 0
}

is_xvfb() { [[ -n $1 && $(cat "/proc/$1/comm" 2>/dev/null) == Xvfb ]]; }

# True when session.env names a live Xvfb and this prefix's wineserver runs.
session_alive() {
  [[ -f $state ]] || return 1
  local KX4_XVFB_PID='' DISPLAY=''
  # shellcheck disable=SC1090
  source "$state"
  is_xvfb "$KX4_XVFB_PID" && [[ -S /tmp/.X11-unix/X${DISPLAY#:} ]] &&
    [[ -n $(prefix_pids wineserver64) ]]
}

# Start Xvfb on the first free display from :91 up. Xvfb takes the lock file
# itself, so a display grabbed concurrently by someone else only makes this
# Xvfb exit, and the next number is tried.
start_xvfb() {
  local n pid i
  for ((n = 91; n < 200; n++)); do
    [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
    # setsid: Xvfb outlives this script and any process-group kill aimed at
    # the caller; no inherited pipe or lock may stay open in it.
    setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -ac \
      </dev/null >"$dir/xvfb.log" 2>&1 9>&- &
    pid=$!   # setsid execs in place: this is Xvfb's pid
    for ((i = 0; i < 100; i++)); do          # up to 10 s for the socket
      [[ -S /tmp/.X11-unix/X$n ]] && { XVFB_PID=$pid DISPLAY=:$n; return 0; }
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
  done
  log "no free X display found (see $dir/xvfb.log)"
  return 1
}

# Run a wine command quietly with a time limit. Wine's system processes
# (services.exe, explorer.exe, ...) started by it inherit its unix stdio and
# outlive it, so that stdio must never be a caller's pipe; nor fd 9, the lock.
wine_quiet() {
  local secs=$1; shift
  timeout "$secs" "$@" </dev/null >>"$dir/wine.log" 2>&1 9>&-
}

stop_session() {
  local KX4_XVFB_PID='' i
  # shellcheck disable=SC1090
  [[ -f $state ]] && source "$state"
  if [[ -n $(prefix_pids wineserver64) ]]; then
    timeout 30 "$WINESERVER" -k 2>/dev/null || true
    timeout 30 "$WINESERVER" -w 2>/dev/null || true
  fi
  if is_xvfb "$KX4_XVFB_PID"; then
    kill "$KX4_XVFB_PID"
    for ((i = 0; i < 50; i++)); do is_xvfb "$KX4_XVFB_PID" || break; sleep 0.1; done
    kill -9 "$KX4_XVFB_PID" 2>/dev/null || true
  fi
  rm -f "$state" "$dir/keeper.fifo"
}

# Serialise start and stop (parallel test jobs may each start the session).
lock() {
  exec 9>"$dir/session.lock"
  flock -w 600 9 || { log "timed out waiting for $dir/session.lock"; exit 1; }
}

cmd_start() {
  mkdir -p "$dir"
  lock
  if session_alive; then
    log "reusing session in $dir"
    return 0
  fi
  stop_session   # leftovers of a half-dead session: start from scratch

  start_xvfb
  export DISPLAY
  log "Xvfb $DISPLAY (pid $XVFB_PID)"
  : >"$dir/wine.log"

  # DISPLAY is set before the first wine process of the prefix: a prefix
  # booted without a display never gets windows. The ready mark makes an
  # interrupted creation start over.
  if [[ ! -f $WINEPREFIX/.kx4-ready ]]; then
    log "creating prefix $WINEPREFIX"
    local t0=$SECONDS
    wine_quiet 300 "$WINE64" wineboot -i ||
      { log "wineboot failed (see $dir/wine.log)"; stop_session; return 1; }
    wine_quiet 120 "$WINESERVER" -w || true
    # Managed windows make every hide/destroy of a top-level window wait
    # ~2 s for a window manager that does not exist.
    wine_quiet 60 "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' \
      /v Managed /t REG_SZ /d N /f ||
      { log "setting X11 Driver Managed=N failed"; stop_session; return 1; }
    wine_quiet 120 "$WINESERVER" -w || true
    touch "$WINEPREFIX/.kx4-ready"
    log "prefix ready in $((SECONDS - t0)) s"
  fi

  # A persistent wineserver keeps a process start at tens of milliseconds.
  # It daemonises itself.
  wine_quiet 30 setsid "$WINESERVER" -p

  # Keep the desktop alive for the whole session: an idle cmd.exe reading a
  # FIFO that it holds open itself (so it never sees EOF) is a desktop user.
  # Without it, every GUI program would start its own explorer.exe, which
  # inherits that program's stderr and holds a capturing pipe open long
  # after the program has exited.
  rm -f "$dir/keeper.fifo"
  mkfifo "$dir/keeper.fifo"
  setsid "$WINE64" cmd.exe <>"$dir/keeper.fifo" >>"$dir/wine.log" 2>&1 9>&- &
  # rundll32 creates a window: wine starts explorer.exe (the desktop) with
  # our quiet stdio and waits until the desktop is ready.
  wine_quiet 60 "$WINE64" rundll32.exe user32.dll,GetDesktopWindow ||
    { log "desktop did not start (see $dir/wine.log)"; stop_session; return 1; }

  cat >"$state.tmp" <<EOT
export KX4_WINE_DIR='$dir'
export WINEPREFIX='$WINEPREFIX'
export WINEDEBUG='$WINEDEBUG'
export WINEARCH='$WINEARCH'
export WINEDLLOVERRIDES='$WINEDLLOVERRIDES'
export DISPLAY='$DISPLAY'
KX4_XVFB_PID=$XVFB_PID
EOT
  mv "$state.tmp" "$state"   # atomic: a concurrent reader never sees half
}

case ${1:-} in
  start) cmd_start ;;
  stop) [[ ! -d $dir ]] || { lock; stop_session; log "stopped"; } ;;
  env)
    session_alive || { log "no session running in $dir (run: $0 start)"; exit 1; }
    grep '^export ' "$state" ;;
  *) echo "usage: $0 start|stop|env   (session directory: $dir)" >&2; exit 2 ;;
esac
