# shellcheck shell=bash
# The Wine test harness: our own prefix of the chosen word size (wine_use_arch
# first), a display and a sound device. Everything started here is stopped by
# harness_stop through its own pid.
# shellcheck source=common.sh
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# One folder per harness run, so runs side by side keep their own sound
# server and display; runs of one word size share its prefix.
HARNESS_ROOT=""
HARNESS_RUN=""
XVFB_PID=""
PULSE_PID=""

# Creates the prefix on first use and reports Windows Vista (6.0).
harness_prefix() {
  if [ ! -f "$WINEPREFIX/.korvell-ready" ]; then
    log "creating the Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$WINE" wineboot -i >/dev/null 2>&1 || die "wineboot failed ($WINEARCH prefix)"
    "$WINE" winecfg -v vista >/dev/null 2>&1 || die "winecfg -v vista failed"
    "$WINESERVER" -w
    touch "$WINEPREFIX/.korvell-ready"
  fi
}

harness_display() {
  if [ -n "${DISPLAY:-}" ] && [ -z "${HARNESS_FORCE_XVFB:-}" ]; then return 0; fi
  local n=99
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  # HARNESS_SCREEN (WxH) sizes the virtual screen; 1280x720 unless set.
  Xvfb ":$n" -screen 0 "${HARNESS_SCREEN:-1280x720}x24" -nolisten tcp >"$HARNESS_RUN/xvfb.log" 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
  die "Xvfb did not start on :$n"
}

harness_sound() {
  export XDG_RUNTIME_DIR=$HARNESS_RUN/xdg
  mkdir -p "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  pulseaudio --daemonize=yes -n --exit-idle-time=-1 --log-target=file:"$HARNESS_RUN/pulse.log" \
    --load="module-null-sink sink_name=korvell_null rate=48000" --load=module-native-protocol-unix \
    >/dev/null 2>&1 || die "pulseaudio did not start"
  PULSE_PID=$(cat "$XDG_RUNTIME_DIR/pulse/pid" 2>/dev/null)
  export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
}

# Registers every COM DLL of a build folder's bin/ in the prefix.
harness_register() {
  local bin=$1 dll
  for dll in "$bin"/*.dll "$bin"/*.ax; do
    [ -e "$dll" ] || continue
    case "$(basename "$dll")" in Vidova.dll|Audova.dll|Mexora.dll|Demexa.dll|wmvcore.dll) continue ;; esac
    "$WINE" regsvr32 /s "$(win_path "$dll")" >/dev/null 2>&1 || die "regsvr32 failed for $dll"
  done
  harness_install_wmvcore "$bin"
}

# The Windows Media runtime stand-in replaces Wine's stub (which loads no
# profile) in the prefix's system folder, loaded before the stub.
harness_install_wmvcore() {
  local dll=$1/wmvcore.dll
  [ -e "$dll" ] || return 0
  cp "$dll" "$WINEPREFIX/drive_c/windows/system32/wmvcore.dll" || die "cannot install $dll"
  "$WINE" reg add 'HKCU\Software\Wine\DllOverrides' /v wmvcore /t REG_SZ /d native,builtin /f >/dev/null 2>&1 \
    || die "cannot set the wmvcore override"
}

harness_start() {
  [ -n "${WINE_ARCH:-}" ] || wine_use_arch "$(wine_default_arch "")"
  HARNESS_ROOT=$BUILD_DIR/harness/$WIN_PRESET
  HARNESS_RUN=$HARNESS_ROOT/run.$$
  mkdir -p "$HARNESS_RUN"
  trap harness_stop EXIT
  harness_prefix
  harness_display
  harness_sound
  # One persistent wineserver for the whole run keeps each program start short.
  "$WINESERVER" -p >/dev/null 2>&1
  # Start the prefix's own services now: started from a test, they would
  # keep the test runner's output pipe open after the test ends.
  "$WINE" cmd /c exit >/dev/null 2>&1
}

# True while another harness run (another process) still uses the prefix.
harness_others_alive() {
  local dir pid
  for dir in "$HARNESS_ROOT"/run.*; do
    [ -d "$dir" ] || continue
    pid=${dir##*.}
    [ "$pid" = "$$" ] && continue
    if kill -0 "$pid" 2>/dev/null; then return 0; fi
    rm -rf "$dir"
  done
  return 1
}

harness_stop() {
  [ -n "$HARNESS_RUN" ] || return 0
  harness_others_alive || "$WINESERVER" -k >/dev/null 2>&1 || true
  [ -n "$PULSE_PID" ] && kill "$PULSE_PID" 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  PULSE_PID=""
  XVFB_PID=""
  rm -rf "$HARNESS_RUN" 2>/dev/null || true
  HARNESS_RUN=""
}
