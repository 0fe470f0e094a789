#!/usr/bin/env bash
# The plugin app as a person meets it, under Xvfb against a private systemd user manager.
# Evidence for changes to the app, not part of the test suite; needs root (the manager's
# cgroup) and `scripts/install-deps.sh dev` plus x11-apps, x11-utils, xdotool, imagemagick.
#   scripts/app-checks.sh stopped DIR     the manager stopped: screenshots in DIR
#   scripts/app-checks.sh uninstall N     Uninstall, then close the window at once, N times
#   scripts/app-checks.sh start-close N   start with the agent installed and close, N times
# APP names the program (default build/.../CorvanePlugin; an ASan build's for start-close).
set -euo pipefail
cd "$(dirname "$0")/.."
app=${APP:-build/CorvanePlugin.app/Contents/MacOS/CorvanePlugin}
bundle=$(cd "$(dirname "$app")/../.." && pwd)
export DISPLAY=:${DISPLAY_NUMBER:-77}

Xvfb "$DISPLAY" -noreset -screen 0 640x480x24 >/dev/null 2>&1 &
xvfb=$!
home=$(mktemp -d /tmp/corvane-check-XXXXXX)
runtime=$home/run
group=/sys/fs/cgroup/${home##*/}
cleanup() {
  [ -s "$home/app.log" ] && { echo "the app wrote:"; tail -20 "$home/app.log"; } >&2
  kill -CONT "${manager:-0}" 2>/dev/null || true
  kill "${manager:-0}" "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  find "$group" -depth -type d -exec rmdir {} + 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT
sleep 1

# A user manager of our own, as the system tests make one.
mkdir -p /run/systemd/system "$group"
mkdir -m 700 "$runtime"
env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$runtime" XDG_CONFIG_HOME="$home/config" \
  sh -c "echo \$\$ > $group/cgroup.procs && exec /lib/systemd/systemd --user" >/dev/null 2>&1 &
manager=$!
for _ in $(seq 100); do [ -S "$runtime/systemd/private" ] && break; sleep 0.1; done
systemctl=(env XDG_RUNTIME_DIR="$runtime" systemctl --user)

now() { date +%s.%N; }
since() { echo "$(now) - $1" | bc; }
shot() { xwd -root -silent | convert xwd:- "$1"; }
start_app() {
  env -u DBUS_SESSION_BUS_ADDRESS HOME="$home" XDG_RUNTIME_DIR="$runtime" \
    XDG_CONFIG_HOME="$home/config" QT_QPA_PLATFORM=xcb "$app" >>"$home/app.log" 2>&1 &
  pid=$!
  window=
  for _ in $(seq 200); do
    window=$(xdotool search --onlyvisible --class '^CorvanePlugin$' 2>/dev/null | head -1) || true
    [ -n "$window" ] && return
    sleep 0.05
  done
  echo "no window" >&2
  return 1
}
# The window asked to close as a window manager asks: WM_DELETE_WINDOW.
close_window() {
  python3 - "$window" <<'PY'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
display = ctypes.c_void_p(x.XOpenDisplay(None))
class Event(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]
window = int(sys.argv[1])
event = Event(type=33, display=display, window=window, format=32,
              message_type=x.XInternAtom(display, b"WM_PROTOCOLS", 0))
event.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(display, ctypes.c_ulong(window), 0, 0, ctypes.byref(event))
x.XFlush(display)
PY
}
# Clicks the lowest button: Install, or Uninstall below Refresh.
click_bottom_button() {
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove --window "$window" 60 $((HEIGHT - 37)) click 1
}
units_state() {
  local files=0 enabled
  for unit in "$home"/config/systemd/user/*.socket "$home"/config/systemd/user/*.service; do
    [ -e "$unit" ] && files=$((files + 1))
  done
  enabled=$(ls "$home"/config/systemd/user/sockets.target.wants 2>/dev/null | wc -l)
  echo "files=$files enabled=$enabled"
}

# The status dot's colour: green when installed.
status_shown() {
  shot "$home/status.png"
  convert "$home/status.png" -crop 1x1+82+54 txt:- | grep -q '#34C759' && echo installed ||
    echo not-installed
}

case "$1" in
  stopped)
    out=$2
    mkdir -p "$out"
    kill -STOP "$manager"
    start=$(now)
    start_app
    echo "window shown after $(since "$start") s, manager stopped"
    sleep 0.5
    shot "$out/1-started.png"
    click_bottom_button
    sleep 0.3
    shot "$out/2-installing.png"
    sleep 0.25
    shot "$out/3-installing-later.png"
    compare -metric AE "$out/2-installing.png" "$out/3-installing-later.png" null: 2>"$home/ae" || true
    echo "pixels that differ between the two spinner screenshots: $(cat "$home/ae")"
    xdotool windowsize "$window" 460 420 # a repaint on request
    sleep 0.3
    shot "$out/4-resized.png"
    kill -CONT "$manager"
    sleep 3
    shot "$out/5-after-continue.png"
    echo "units after the manager continued: $(units_state)"
    kill -STOP "$manager"
    start=$(now)
    close_window
    wait "$pid"
    echo "app exited with $? $(since "$start") s after the close, manager stopped" ;;
  uninstall)
    start_app # installs the agent first
    click_bottom_button
    sleep 2
    close_window
    wait "$pid"
    for round in $(seq "$2"); do
      start_app
      sleep 1 # the status read and the fetch
      click_bottom_button
      close_window
      wait "$pid" || echo "round $round: app exited with $?"
      state=$(units_state)
      start_app
      sleep 1
      shown=$(status_shown)
      case "$state" in
        "files=2 enabled=1") units=installed ;;
        "files=0 enabled=0") units=removed ;;
        *) units="HALF: $state" ;;
      esac
      echo "round $round: units $units ($state), the app's next start shows $shown"
      [ "$shown" = not-installed ] && click_bottom_button && sleep 2 # installed again
      close_window
      wait "$pid"
    done ;;
  start-close)
    start_app # installs the agent first, so that each start begins a fetch
    click_bottom_button
    sleep 2
    close_window
    wait "$pid"
    echo "the agent's units: $(units_state)"
    failed=0
    for round in $(seq "$2"); do
      start_app
      sleep "0.$((RANDOM % 10))$((RANDOM % 10))"
      close_window
      wait "$pid" || { failed=$((failed + 1)); echo "round $round: app exited with $?"; }
    done
    echo "$2 rounds, $failed failed, sanitizer reports: $(grep -c -E 'ERROR: |runtime error' "$home/app.log")" ;;
esac
