#!/usr/bin/env bash
# test-env.sh COMMAND...: runs COMMAND inside a private desktop: Xvfb 1920x1080x24 on a free
# display with openbox and tint2, and a PulseAudio daemon whose default sink is a null sink and
# whose default source is fed by a second null sink ("yux_mic_feed"), so tests can play a tone
# into the microphone. Stops exactly what it started, by process id, whatever COMMAND returns.
set -uo pipefail
# The tests run the same from any desktop: no Wayland session shows through.
unset XDG_SESSION_TYPE WAYLAND_DISPLAY
runtime="$(mktemp -d /tmp/yux-env-XXXXXX)"
chmod 700 "$runtime"
pids=()
cleanup() {
  for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$runtime"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display number itself and writes it to the descriptor.
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1920x1080x24 -nolisten tcp +extension RANDR +extension Composite \
  >"$runtime/xvfb.log" 2>&1 &
pids+=($!)
display=""
for _ in $(seq 100); do
  if read -r -t 0.1 -u "$displayfd" display && [ -n "$display" ]; then break; fi
done
exec {displayfd}>&-
if [ -z "$display" ]; then echo "test-env: Xvfb did not start" >&2; cat "$runtime/xvfb.log" >&2; exit 1; fi
export DISPLAY=":$display"

export XDG_RUNTIME_DIR="$runtime"
export PULSE_SERVER="unix:$runtime/pulse.sock"
export HOME_BEFORE_ENV="${HOME:-}"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit=yes \
  -L "module-native-protocol-unix socket=$runtime/pulse.sock auth-anonymous=1" \
  -L "module-null-sink sink_name=yux_mic_feed sink_properties=device.description=Yux-Mic-Feed" \
  -L "module-remap-source source_name=yux_null_source master=yux_mic_feed.monitor source_properties=device.description=Yux-Null-Source" \
  -L "module-null-sink sink_name=yux_null_sink sink_properties=device.description=Yux-Null-Sink" \
  >"$runtime/pulse.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
if ! pactl info >/dev/null 2>&1; then echo "test-env: PulseAudio did not start" >&2; cat "$runtime/pulse.log" >&2; exit 1; fi
pactl set-default-sink yux_null_sink
pactl set-default-source yux_null_source

openbox --sm-disable >"$runtime/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
tint2 >"$runtime/tint2.log" 2>&1 &
pids+=($!)
sleep 0.3

"$@"
