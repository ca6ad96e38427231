#!/usr/bin/env bash
# test-env.sh [--compositor] [--pipewire] COMMAND...: runs COMMAND inside a private desktop:
# Xvfb 1920x1080x24 on a free display with openbox and tint2, and a PulseAudio daemon whose
# default sink is a null sink and whose default source is fed by a second null sink
# ("yux_mic_feed"), so tests can play a tone into the microphone. Stops exactly what it
# started, by process id, whatever COMMAND returns.
#   --compositor  also runs a compositing manager (picom, xrender backend). Its process id is
#                 kept in $YUX_TEST_ENV_DIR/compositor.pid; a test that stops it and starts
#                 another writes the new one's there, and that one is stopped at the end.
#   --pipewire    runs PipeWire, WirePlumber and PipeWire's PulseAudio server on a private
#                 session bus instead of the PulseAudio daemon, with the same sinks and sources.
set -uo pipefail
all_arguments=("$@")
compositor=0
pipewire=0
while [ $# -gt 0 ]; do
  case "$1" in
    --compositor) compositor=1; shift ;;
    --pipewire) pipewire=1; shift ;;
    *) break ;;
  esac
done
if [ $# -eq 0 ]; then echo "usage: scripts/test-env.sh [--compositor] [--pipewire] COMMAND..." >&2; exit 2; fi
# The tests run the same from any desktop: no Wayland session shows through.
unset XDG_SESSION_TYPE WAYLAND_DISPLAY
# Desktops set up side by side (two checkouts tested at once) take turns at starting and at
# stopping: an X server picks its display number by the socket it can bind, so one starting while
# another is still shutting down can end up with a number whose clients reach the other.
# The turn is this script's alone, open only while it is held: the processes started during it
# close it ({env_lock}>&-), or one of them outliving the desktop would hold it for every later
# desktop. A turn held past two minutes is one a stuck run keeps: go on without it.
lock_folder="${TMPDIR:-/tmp}"
if [ ! -d "$lock_folder" ]; then
  echo "test-env: TMPDIR is $lock_folder, which is not a folder (desktops take turns through a file in it)" >&2
  exit 2
fi
lock_file="$lock_folder/yux-test-env-$(id -u).lock"
env_lock=""
take_turn() {
  [ -n "$env_lock" ] && return 0
  if ! exec {env_lock}>>"$lock_file"; then
    env_lock=""
    echo "test-env: cannot open $lock_file to take turns with other desktops" >&2
    return 1
  fi
  flock -w 120 "$env_lock" || echo "test-env: went on after waiting 120 s for another desktop's turn" >&2
}
end_turn() {
  [ -n "$env_lock" ] || return 0
  flock -u "$env_lock"
  exec {env_lock}>&-
  env_lock=""
}
take_turn || exit 2
runtime="$(mktemp -d /tmp/yux-env-XXXXXX)"
chmod 700 "$runtime"
pids=()
cleanup() {
  take_turn
  # The compositing manager running now, which a test may have started in place of ours.
  if [ -s "$runtime/compositor.pid" ]; then
    local running
    running="$(cat "$runtime/compositor.pid")"
    kill "$running" 2>/dev/null
    if ! wait "$running" 2>/dev/null; then
      for _ in $(seq 30); do kill -0 "$running" 2>/dev/null || break; sleep 0.1; done
    fi
  fi
  for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$runtime"
  end_turn
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# A desktop that fails to come up says what failed (and whether Xvfb is still there), then is
# set up once more from the start; the second failure ends the run.
setup_failed() {
  echo "test-env: $1" >&2
  # shellcheck disable=SC2086
  [ -n "${2:-}" ] && cat $2 >&2
  if [ -n "${xvfb_pid:-}" ] && ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "test-env: Xvfb (display :${display:-?}) has exited" >&2; cat "$runtime/xvfb.log" >&2
  fi
  if [ -z "${YUX_TEST_ENV_RETRY:-}" ]; then
    echo "test-env: setting the desktop up once more" >&2
    cleanup
    trap - EXIT
    exec env YUX_TEST_ENV_RETRY=1 bash "$0" "${all_arguments[@]}"
  fi
  exit 1
}

# Xvfb picks a free display number itself and writes it, with the line's end, to a file: a
# file keeps every byte, where bash's timed reads of a pipe drop the one that comes as a read
# times out. A busy machine can take many seconds to start Xvfb; one that neither reports nor
# exits within a minute has hung. No reset when the last client leaves: a reset closes the
# connections still in their set-up, and the desktop's first clients come and go at once.
start_xvfb() {
  local number_file="$runtime/display-number"
  exec {displayfd}>"$number_file"
  Xvfb -displayfd "$displayfd" -noreset -screen 0 1920x1080x24 -nolisten tcp +extension RANDR +extension Composite \
    >>"$runtime/xvfb.log" 2>&1 {env_lock}>&- &
  xvfb_pid=$!
  exec {displayfd}>&-
  pids+=("$xvfb_pid")
  display=""
  local started=$SECONDS
  while ((SECONDS - started < 60)); do
    # read succeeds only on a whole line.
    if read -r display <"$number_file"; then break; fi
    display=""
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  xvfb_state="still running"
  kill -0 "$xvfb_pid" 2>/dev/null || xvfb_state="exited"
  xvfb_waited=$((SECONDS - started))
}
start_xvfb
if [ -z "$display" ]; then
  setup_failed "Xvfb did not start (${xvfb_waited} s, $xvfb_state)" "$runtime/xvfb.log"
fi
export DISPLAY=":$display"

export XDG_RUNTIME_DIR="$runtime"
export YUX_TEST_ENV_DIR="$runtime"
export HOME_BEFORE_ENV="${HOME:-}"
# The same sinks and sources in either sound server.
sound_modules=(
  "module-null-sink sink_name=yux_mic_feed sink_properties=device.description=Yux-Mic-Feed"
  "module-remap-source source_name=yux_null_source master=yux_mic_feed.monitor source_properties=device.description=Yux-Null-Source"
  "module-null-sink sink_name=yux_null_sink sink_properties=device.description=Yux-Null-Sink"
)
if [ "$pipewire" = 1 ]; then
  # WirePlumber needs a session bus; its state and PipeWire's settings stay in this folder, and
  # with no display nothing starts a bus of its own.
  sound_env=(env -u DISPLAY XDG_CONFIG_HOME="$runtime/sound-config" XDG_STATE_HOME="$runtime/sound-state"
    DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus")
  dbus-daemon --session --nofork --nopidfile --address="unix:path=$runtime/bus" >"$runtime/dbus.log" 2>&1 {env_lock}>&- &
  pids+=($!)
  for _ in $(seq 50); do [ -S "$runtime/bus" ] && break; sleep 0.1; done
  "${sound_env[@]}" pipewire >"$runtime/pipewire.log" 2>&1 {env_lock}>&- &
  pids+=($!)
  for _ in $(seq 50); do [ -S "$runtime/pipewire-0" ] && break; sleep 0.1; done
  "${sound_env[@]}" wireplumber >"$runtime/wireplumber.log" 2>&1 {env_lock}>&- &
  pids+=($!)
  "${sound_env[@]}" pipewire-pulse >"$runtime/pipewire-pulse.log" 2>&1 {env_lock}>&- &
  pids+=($!)
  export PULSE_SERVER="unix:$runtime/pulse/native"
  sound_log="$runtime/pipewire*.log $runtime/wireplumber.log"
else
  export PULSE_SERVER="unix:$runtime/pulse.sock"
  loads=()
  for module in "${sound_modules[@]}"; do loads+=(-L "$module"); done
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit=yes \
    -L "module-native-protocol-unix socket=$runtime/pulse.sock auth-anonymous=1" "${loads[@]}" \
    >"$runtime/pulse.log" 2>&1 {env_lock}>&- &
  pids+=($!)
  sound_log="$runtime/pulse.log"
fi
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
if ! pactl info >/dev/null 2>&1; then
  setup_failed "the sound server did not start" "$sound_log"
fi
if [ "$pipewire" = 1 ]; then
  for module in "${sound_modules[@]}"; do
    # Split into the module's name and its arguments.
    # shellcheck disable=SC2086
    pactl load-module $module >/dev/null || setup_failed "cannot load $module" "$sound_log"
  done
fi
# PipeWire takes a default only once WirePlumber is up.
for _ in $(seq 100); do
  pactl set-default-sink yux_null_sink 2>/dev/null && pactl set-default-source yux_null_source 2>/dev/null && break
  sleep 0.1
done
defaults="$(pactl info)"
if ! grep -q "Default Sink: yux_null_sink" <<<"$defaults" || ! grep -q "Default Source: yux_null_source" <<<"$defaults"; then
  setup_failed "the sound server did not take the null sink and source" "$sound_log"
fi

openbox --sm-disable >"$runtime/openbox.log" 2>&1 {env_lock}>&- &
desktop_pids=($!)
tint2 >"$runtime/tint2.log" 2>&1 {env_lock}>&- &
desktop_pids+=($!)
pids+=("${desktop_pids[@]}")
# The desktop is ready once the window manager runs its event loop and the panel holds its strip
# at the foot of the screen: the work area then ends above the panel. A test that starts sooner
# meets windows without frames and no active window (the window manager names its check window
# early in its start, long before it manages anything), or a panel without a tray. A busy
# machine can take many seconds.
for _ in $(seq 600); do
  xprop -root _NET_WORKAREA 2>/dev/null | grep -q '= 0, 0, 1920, 1050' && break
  # Either one gone (the window manager fails if it cannot open the display) will not come.
  for pid in "${desktop_pids[@]}"; do kill -0 "$pid" 2>/dev/null || break 2; done
  sleep 0.1
done
if ! xprop -root _NET_WORKAREA 2>/dev/null | grep -q '= 0, 0, 1920, 1050'; then
  setup_failed "the window manager and the panel did not come up ($(xprop -root _NET_WORKAREA 2>&1))" \
    "$runtime/openbox.log $runtime/tint2.log"
fi
if [ "$compositor" = 1 ]; then
  # No user configuration: no shadows or fading, so pictures of the screen stay comparable.
  picom --backend xrender --config /dev/null >"$runtime/compositor.log" 2>&1 {env_lock}>&- &
  echo $! >"$runtime/compositor.pid"
  for _ in $(seq 50); do xdotool search --classname '^picom$' >/dev/null 2>&1 && break; sleep 0.1; done
  if ! xdotool search --classname '^picom$' >/dev/null 2>&1; then
    setup_failed "picom did not start" "$runtime/compositor.log"
  fi
fi
sleep 0.3
end_turn

unset YUX_TEST_ENV_RETRY
"$@"
