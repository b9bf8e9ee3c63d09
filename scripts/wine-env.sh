# Sourced by the scripts that run Windows programs: starts Xvfb (unless a
# display is already given) and a persistent wine server, and creates the
# prefix on first use. Everything started here is stopped by wine_env_stop.
export WINEPREFIX="${TAVRIN_WINEPREFIX:-${HOME}/.tavrin-wine}"
export TAVRIN_WINEPREFIX="$WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
TAVRIN_XVFB_PID=""

wine_env_start() {
  if [ -z "${DISPLAY:-}" ]; then
    local n=91
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    TAVRIN_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot --init >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  wineserver -p 120 >/dev/null 2>&1 || true
  # Start Wine's own background processes (services, device manager) now,
  # with no terminal or pipe attached: started by the first test program they
  # would inherit its output pipe and keep CTest waiting for it to close.
  wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
}

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$TAVRIN_XVFB_PID" ]; then kill "$TAVRIN_XVFB_PID" 2>/dev/null || true; fi
}
