# shellcheck shell=bash
# Wine and Xvfb helpers for the scripts in scripts/. Sourced; defines
# functions only. wine64 runs the x86_64 build and makes the prefix; wine, the
# 32-bit loader, runs the i686 build in the same prefix and server.

QUORVANE_WINE64=${QUORVANE_WINE64:-/usr/lib/wine/wine64}
QUORVANE_WINE32=${QUORVANE_WINE32:-/usr/lib/wine/wine}
# The server binary itself: Debian's wineserver wrapper adds -p0, which would
# defeat -p.
QUORVANE_WINESERVER=${QUORVANE_WINESERVER:-/usr/lib/wine/wineserver64}

# Quiet Wine that does not offer to install Mono or Gecko.
quorvane_wine_env() {
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
}

# Runs wine64 in the Japanese locale (ANSI code page 932). The locale is set
# for Wine only: bash would warn that ja_JP.UTF-8 is not generated.
quorvane_wine() {
  env LC_ALL=ja_JP.UTF-8 "$QUORVANE_WINE64" "$@"
}

# Prints the Wine loader for the Windows program $1, by the machine type in
# its PE header: wine for i386 programs, wine64 for the others.
quorvane_wine_loader() {
  local header machine
  header=$(od -An -tu4 -j60 -N4 "$1") || return 1
  machine=$(od -An -tx2 -j$((header + 4)) -N2 "$1") || return 1
  if [[ ${machine// /} == 014c ]]; then
    echo "$QUORVANE_WINE32"
  else
    echo "$QUORVANE_WINE64"
  fi
}

# Succeeds when 32-bit Wine starts; otherwise prints why not. Kernels built
# without IA-32 emulation refuse every i386 Linux program, 32-bit Wine's
# loader among them.
quorvane_wine32_runs() {
  local output
  if [[ ! -x $QUORVANE_WINE32 ]]; then
    echo "32-bit Wine ($QUORVANE_WINE32, package wine32:i386) is not installed"
    return 1
  fi
  output=$("$QUORVANE_WINE32" --version 2>&1 </dev/null) && return 0
  if [[ $output == *"Exec format error"* ]]; then
    echo "this kernel does not run i386 programs (Exec format error)"
  else
    echo "32-bit Wine does not start: ${output##*$'\n'}"
  fi
  return 1
}

# Creates a Wine prefix at $1 unless one is there, and waits until Wine has
# written it completely. Output goes to $1.log.
quorvane_prepare_prefix() {
  local prefix=$1
  [[ -f $prefix/system.reg ]] && return 0
  mkdir -p "$prefix"
  if ! WINEPREFIX=$prefix quorvane_wine wineboot -i </dev/null >"$prefix.log" 2>&1 ||
    ! WINEPREFIX=$prefix "$QUORVANE_WINESERVER" -w || [[ ! -f $prefix/system.reg ]]; then
    echo "error: could not create the Wine prefix $prefix:" >&2
    cat "$prefix.log" >&2
    return 1
  fi
}

# Starts a wineserver for the prefix $1 that stays $2 seconds after its last
# client (forever without $2), detached from our output: a server started by
# a program instead would inherit the caller's pipes (CTest's among them) and
# hold them open. One wineboot then starts Wine's own services, also
# detached. Nothing happens when a server for the prefix is running already.
# With $3 "trace" (the tests' servers): Wine never sleeps, but its server
# shows what a program asks of a waitable timer. Started with -d1 it prints
# every request (which costs it some time); those that set or cancel a timer,
# with the expiry as a FILETIME in hex, go to $1.trace behind the calling
# thread's id, and so do the window timers' WM_TIMER (0x113) settings and
# deliveries, with the server's tick count: a failing test shows the ticks.
quorvane_start_wineserver() {
  local prefix=$1 linger=${2:-} trace=${3:-} tries
  WINEPREFIX=$prefix "$QUORVANE_WINESERVER" -k0 2>/dev/null && return 0
  if [[ $trace == trace ]]; then
    : >"$prefix.trace"
    (WINEPREFIX=$prefix setsid "$QUORVANE_WINESERVER" -f -d1 "-p$linger" 2>&1 >/dev/null |
      grep --line-buffered -E '^[0-9a-f]+: ((set|cancel)_timer|set_win_timer|get_message\(\) = 0 \{ win)[( =].*(handle=|msg=00000113)' \
        >>"$prefix.trace") \
      </dev/null >/dev/null 2>&1 &
  else
    WINEPREFIX=$prefix "$QUORVANE_WINESERVER" "-p$linger" </dev/null >/dev/null 2>&1
  fi
  for ((tries = 0; tries < 100; tries++)); do
    if WINEPREFIX=$prefix "$QUORVANE_WINESERVER" -k0 2>/dev/null; then
      WINEPREFIX=$prefix quorvane_wine wineboot </dev/null >/dev/null 2>&1
      return 0
    fi
    sleep 0.05
  done
  echo "error: wineserver did not start for $prefix" >&2
  return 1
}

# A Wine prefix made fresh at $1 with a server that traces timers, as the
# Windows tests run, and Xvfb where there is no display. The display comes
# first: a prefix booted without one gives its later windows no driver.
quorvane_fresh_test_wine() {
  quorvane_wine_env
  export WINEPREFIX=$1
  [[ -n ${DISPLAY:-} ]] || quorvane_start_xvfb || return 1
  quorvane_prepare_prefix "$WINEPREFIX" && quorvane_start_wineserver "$WINEPREFIX" "" trace
}

# Ends every Wine process of the prefix $1 and its server.
quorvane_stop_wineserver() {
  WINEPREFIX=$1 "$QUORVANE_WINESERVER" -k >/dev/null 2>&1 || true
  WINEPREFIX=$1 "$QUORVANE_WINESERVER" -w >/dev/null 2>&1 || true
}

# Starts Xvfb on the first free display from :100 on and exports DISPLAY;
# QUORVANE_XVFB_PID is its process id.
quorvane_start_xvfb() {
  local n pid tries
  for ((n = 100; n < 200; n++)); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    pid=$!
    for ((tries = 0; tries < 100; tries++)); do
      if xdpyinfo -display ":$n" >/dev/null 2>&1; then
        export DISPLAY=":$n"
        QUORVANE_XVFB_PID=$pid
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break # lost the display to someone else
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  echo "error: could not start Xvfb" >&2
  return 1
}

quorvane_stop_xvfb() {
  if [[ -n ${QUORVANE_XVFB_PID:-} ]]; then
    kill "$QUORVANE_XVFB_PID" 2>/dev/null || true
    wait "$QUORVANE_XVFB_PID" 2>/dev/null || true
    QUORVANE_XVFB_PID=
  fi
}
