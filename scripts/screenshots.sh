#!/usr/bin/env bash
# screenshots.sh [TEST-ENV OPTIONS] OUT_DIR: runs the real Yux on the private test desktop (a
# wallpaper colour, xlogo, xclock and a test pattern playing with a tone), drives it as a user
# does (XTest clicks and keys, the shortcut; each step finds what it clicks on the screen and
# checks that it took effect) and writes a PNG of each screen to look at: the
# panel's tabs and pages, the selection overlay in each mode with the camera bubble, the tray
# during a take, the trim window with its edits, the export sheet, the discard question, and
# the About page and update window of a build with a local update feed. Options such as
# --compositor go to scripts/test-env.sh as they are.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
env_options=()
while [ $# -gt 0 ] && [[ "$1" == --* ]]; do env_options+=("$1"); shift; done
if [ $# -ne 1 ]; then echo "usage: scripts/screenshots.sh [--compositor] [--pipewire] OUT_DIR" >&2; exit 2; fi
out="$(mkdir -p "$1" && cd "$1" && pwd)"

# The update window needs a build that names a feed: a loopback address, served below.
feed_port=8421
feed_url="http://127.0.0.1:$feed_port/feed.xml"
# Any 32 bytes: the pictures never get as far as checking a download's signature.
feed_key="BwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwc="
# A run takes about two minutes on a busy machine.
run_limit_seconds=900

if [ -z "${YUX_SCREENSHOTS_INSIDE:-}" ]; then
  echo "screenshots: building Yux, the test phone, and Yux with a local update feed" >&2
  YUX_BUILD_TARGET=yux "$root/scripts/build.sh" "$root/build" >/dev/null
  YUX_BUILD_TARGET=yux_fake_phone "$root/scripts/build.sh" "$root/build" >/dev/null
  # Inside the one build folder and only for the run; its fixed place lets the compiler cache
  # serve the next run.
  feed_build="$root/build/screenshots-feed"
  trap 'rm -rf "$feed_build"' EXIT
  YUX_BUILD_TARGET=yux "$root/scripts/build.sh" "$feed_build" -DYUX_BUILD_TESTS=OFF \
    -DYUX_BUILD_BENCH=OFF -DYUX_FEED_URL="$feed_url" -DYUX_PUBLIC_ED_KEY="$feed_key" >/dev/null
  # Every wait inside is bounded; this bounds the whole run should anything else stall.
  YUX_SCREENSHOTS_INSIDE=1 YUX_FEED_BUILD="$feed_build" timeout -k 15 "$run_limit_seconds" \
    "$root/scripts/test-env.sh" "${env_options[@]}" "$0" "$out" || status=$?
  [ "${status:-0}" = 124 ] && echo "screenshots: stopped after $run_limit_seconds s" >&2
  exit "${status:-0}"
fi

source "$root/scripts/screenshot_steps.sh"

# --- The desktop -----------------------------------------------------------------------------
wait_until "$work_seconds" "the window manager" window_manager
wallpaper=336699
set_wallpaper "$wallpaper"
start_client xlogo xlogo -geometry 280x280+80+140
start_client xclock xclock -update 1 -geometry 240x240+1560+140
# A moving test pattern with a beeping tone into the default sink: the system audio.
SDL_AUDIODRIVER=pulseaudio start_client "Test pattern" ffplay -loglevel error -nostats -window_title "Test pattern" \
  -left 780 -top 300 -f lavfi "testsrc2=s=480x270:r=30[out0];sine=f=660:sample_rate=48000:beep_factor=4[out1]"
# A swelling tone into the microphone's feed.
PULSE_SINK=yux_mic_feed SDL_AUDIODRIVER=pulseaudio start_process ffplay -loglevel error -nostats -nodisp \
  -f lavfi "aevalsrc='0.6*sin(2*PI*330*t)*(0.55+0.45*sin(2*PI*0.8*t))':s=48000"
phone=0
if [ ${#private[@]} -gt 0 ]; then
  start_phone && phone=1
else
  echo "screenshots: no private namespaces for Yux here: no camera bubble and no update pictures" >&2
fi

# --- Yux with the microphone and, when the phone is there, its camera ---------------------------
camera_json='"cameraEnabled": false'
[ "$phone" = 1 ] && camera_json="\"cameraEnabled\": true, \"cameraDeviceID\": \"$phone_camera\""
inputs() {
  echo "{\"yux.settings.captureInputs\": {\"setupCompleted\": true,
    \"microphoneEnabled\": true, \"microphoneDeviceID\": \"yux_null_source\", $1,
    \"ratio\": \"Free\", \"camera\": {}}}"
}
preferences="$(inputs "$camera_json")"
# Only the first part shows the camera; the others leave it off.
preferences_without_camera="$(inputs '"cameraEnabled": false')"

# The panel, the overlay in each mode, a take of an area, its trim window, edits and export.
take_pictures() {
  start_yux "$root/build/src/shell/yux" "$preferences"
  open_panel
  panel_shot panel-record
  close_panel

  # The selection overlay in each mode.
  select_area
  [ "$phone" = 1 ] && wait_until "$react_seconds" "the camera bubble over the area" bubble_window
  settle
  shot overlay-area
  step "Tab to application mode"
  xdotool key Tab
  overlay_shows "application mode" dim dim
  # In application mode a click picks the window under it: the test pattern.
  step "pick the test pattern"
  wait_until "$react_seconds" "the test pattern's window" named_window '^Test pattern$'
  local pattern
  read -r -a pattern < <(window_geometry "$found_id")
  click $((pattern[0] + pattern[2] / 2)) $((pattern[1] + pattern[3] / 2))
  clicked="the click at ($((pattern[0] + pattern[2] / 2)), $((pattern[1] + pattern[3] / 2)))"
  read -r -a pattern < <(frame_geometry "$found_id")
  look screen "the test pattern is not outlined after $clicked" outline "${pattern[@]}"
  settle
  shot overlay-app
  step "Tab to screen mode"
  xdotool key Tab
  overlay_shows "the whole screen" bright bright
  settle
  shot overlay-screen
  step "Tab back to area mode"
  xdotool key Tab
  overlay_area

  # A take of the area: the tray.
  start_take
  sleep 1.5
  shot recording-tray
  sleep 2.5
  stop_take

  # The trim window.
  window_shot trim-window "$trim_id"
  # Three sections: the middle one removed, the last one at twice the speed; then one lane a source.
  trim_seek 1 3
  trim_edit "trim Split at 1/3" split "blue:1,blue:2"
  trim_seek 2 3
  trim_edit "trim Split at 2/3" split "blue:1,blue:1,blue:1"
  trim_seek 1 2
  trim_edit "trim Remove the middle" remove "blue:1,blue:1"
  trim_seek 5 6
  trim_edit "trim 2× on the last" speed-3 "blue:2,green:1"
  window_settle "$trim_id"
  window_shot trim-edited "$trim_id"
  step "trim lanes strip"
  look "$trim_id" "the trim window shows no lanes" timeline
  local lanes
  read -r -a lanes <<<"$seen"
  press "$trim_id" lane-strip
  # One lane for each source is taller than the one for all.
  after "$trim_id" timeline $((lanes[3] - lanes[2] + 40))
  window_settle "$trim_id"
  window_shot trim-edited-sources "$trim_id"
  trim_crop 560 420 160 120
  window_settle "$trim_id"
  window_shot trim-crop "$trim_id"

  # The export sheet: the crop, in the format chosen, half the take long (a third removed, a third
  # at twice the speed).
  local mark format
  step "trim Export"
  look "$trim_id" "the trim window shows no chosen format" format
  format=$seen
  mark=$(log_lines)
  press "$trim_id" export-button
  export_asked "$mark" 560 420
  wait_log "$mark" "trim_export_progress phase=encoding fraction=0\.[1-9]" "the export to pass a tenth"
  window_shot export-sheet-running "$trim_id"
  wait_log "$mark" "export_editor_export_completed" "the export to finish" $((3 * work_seconds))
  exported "$mark" 560 420 "$format" "$(awk -v s="$take_seconds" 'BEGIN { print s / 2 }')"
  window_settle "$trim_id"
  window_shot export-sheet-finished "$trim_id"
  # After an export the window closes without a question.
  step "Alt+F4 after the export"
  xdotool key alt+F4
  wait_until "$react_seconds" "the trim window to close after the export" window_gone "$trim_id"
  stop_yux
}

# A second take, closed without exporting: the discard question.
discard_picture() {
  start_yux "$root/build/src/shell/yux" "$preferences_without_camera"
  select_area
  settle
  start_take
  sleep 2
  stop_take
  step "Alt+F4 before an export"
  xdotool key alt+F4
  wait_until "$react_seconds" "the question on closing the trim window" question_window
  sleep 0.5
  window_shot discard-question "$trim_id"
  # Keep Editing is the question's escape answer; Delete then throws the take away.
  step "Escape to keep editing"
  xdotool key Escape
  wait_until "$react_seconds" "the question to go" no_question_window
  step "trim Delete"
  local mark
  mark=$(log_lines)
  press "$trim_id" delete-button
  wait_until "$react_seconds" "the trim window to close after $clicked" window_gone "$trim_id"
  wait_log "$mark" "trim_preview_outcome discarded" "the take to be discarded"
  wait_until "$react_seconds" "the take's movie $take_movie to be deleted" test ! -e "$take_movie"
  stop_yux
}

# The panel's other tab and pages, with the takes above in History.
panel_pictures() {
  start_yux "$root/build/src/shell/yux" "$preferences_without_camera"
  open_panel
  panel_click "panel History tab" tab main right
  panel_shot panel-history
  panel_click "panel Settings row" settings page settings
  panel_shot panel-settings
  panel_click "panel Back" back main
  panel_click "panel About row" about page about
  panel_shot panel-about
  close_panel
  stop_yux
}

# A build with an update feed: the About page with a waiting update, the update window.
update_pictures() {
  write_feed "$feed_port"
  start_yux "$YUX_FEED_BUILD/src/shell/yux" '{"yux.updates.automaticChecks": true,
    "yux.settings.captureInputs": {"setupCompleted": true, "microphoneEnabled": false, "cameraEnabled": false,
    "ratio": "Free", "camera": {}}}' "$feed_port"
  wait_until "$react_seconds" "the feed server on port $feed_port" grep -q "Serving HTTP" "$feed_log"
  wait_until "$work_seconds" "Yux to fetch the update feed" grep -q "GET /feed.xml" "$feed_log"
  open_panel
  panel_shot panel-update-badge
  panel_click "panel About row" about page about
  panel_shot panel-about-update
  # The update window takes the focus and the panel closes.
  step "panel Install"
  press "$panel_id" install-button
  wait_until "$react_seconds" "the update window after $clicked" update_window
  window_settle "$update_id"
  window_shot update-window "$update_id"
  stop_yux
}

part "the panel, the overlay, a take, its trim window and export" take_pictures
part "the discard question" discard_picture
part "the panel's History tab and pages" panel_pictures
if [ ${#private[@]} -gt 0 ]; then part "the update window" update_pictures; fi
finish
