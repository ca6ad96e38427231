#!/usr/bin/env bash
# screenshots.sh [--compositor] [--pipewire] OUT_DIR: starts Yux inside the private test desktop,
# in fresh folders with the input setup done, drives it with XTest and writes a PNG of each
# screen a person should look at: the record tab, the selection overlay, a recording with its
# control tray and the trim window, then the Settings and About pages. The options go to
# test-env.sh: the same pictures on a composited desktop (and with PipeWire's sound server).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
env_options=()
while [ $# -gt 0 ] && [[ "$1" == --* ]]; do env_options+=("$1"); shift; done
if [ $# -ne 1 ]; then echo "usage: scripts/screenshots.sh [--compositor] [--pipewire] OUT_DIR" >&2; exit 2; fi
out="$(mkdir -p "$1" && cd "$1" && pwd)"
if [ -z "${YUX_SCREENSHOTS_INSIDE:-}" ]; then
  YUX_BUILD_TARGET=yux "$root/scripts/build.sh" "$root/build" >/dev/null
  YUX_BUILD_TARGET=shell_view_tests "$root/scripts/build.sh" "$root/build" >/dev/null
  exec env YUX_SCREENSHOTS_INSIDE=1 "$root/scripts/test-env.sh" "${env_options[@]}" "$0" "$out"
fi

home="$(mktemp -d)"
yux_pid=""
cleanup() {
  if [ -n "$yux_pid" ]; then kill -TERM "$yux_pid" 2>/dev/null || true; wait "$yux_pid" 2>/dev/null || true; fi
  rm -rf "$home"
}
trap cleanup EXIT
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
  XDG_RUNTIME_DIR="$home/run"
mkdir -p "$home/run" "$home/config/Yux"
chmod 700 "$home/run"
cat >"$home/config/Yux/preferences.json" <<'JSON'
{"yux.settings.captureInputs": {"setupCompleted": true, "microphoneEnabled": false, "cameraEnabled": false, "ratio": "Free", "camera": {}}}
JSON
log="$home/data/Yux/debug-log.jsonl"

# Waits up to 20 s for a debug-log line containing $1.
wait_for() {
  for _ in $(seq 200); do
    if grep -q "$1" "$log" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "screenshots: Yux never logged \"$1\"" >&2
  exit 1
}
shot() {
  ffmpeg -loglevel error -y -f x11grab -video_size 1920x1080 -i "$DISPLAY" -frames:v 1 "$out/$1.png"
  echo "$out/$1.png"
}

# Yux starts once the panel's tray is up, as at a login where the panel came first; without a
# tray it would open its panel as a window instead.
for _ in $(seq 50); do xdotool search --class tint2 >/dev/null 2>&1 && break; sleep 0.1; done
sleep 1
"$root/build/src/shell/yux" &
yux_pid=$!
wait_for app_startup_settings
sleep 1
# The record tab: a click on our icon in the panel's tray opens it.
for window in $(xdotool search --pid "$yux_pid"); do
  if xwininfo -id "$window" | grep -q IsViewable; then
    eval "$(xwininfo -id "$window" | awk '/Absolute upper-left X/{print "ix="$4} /Absolute upper-left Y/{print "iy="$4}')"
    xdotool mousemove $((ix + 8)) $((iy + 8)) click 1
    break
  fi
done
sleep 1
shot record-tab
xdotool key Escape
sleep 0.5
xdotool key shift+super+6
wait_for "session_start_requested state=idle"
sleep 1
shot selection-overlay
xdotool key Tab Tab Return
wait_for session_recording_started
sleep 1
shot recording-control-tray
xdotool key shift+super+6
wait_for trim_preview_present_requested
sleep 2
shot trim-window
kill -TERM "$yux_pid"
wait "$yux_pid"
yux_pid=""

# The Settings page with launch at login on, the About page with a waiting update and the
# update window, drawn offscreen by the shell's view tests.
QT_QPA_PLATFORM=offscreen "$root/build/tests/shell/shell_view_tests" --gtest_filter='UpdatesPictures.*' >/dev/null
for name in settings_launch_at_startup about_with_updates update_window; do
  cp "$root/build/screenshots/$name.png" "$out/$name.png"
  echo "$out/$name.png"
done
