# shellcheck shell=bash disable=SC2034,SC2154,SC2016,SC2064  # places used by the caller; root and out are its own; awk programs; traps set from a text
# screenshot_steps.sh: what scripts/screenshots.sh does on the test desktop, sourced by it.
# Every wait names what it waits for, so a run that stops says where. Each click or key is a
# step: it finds what it clicks in a picture of the window as Yux shows it now (or in the window
# list), and waits until the window shows the step's effect; a step that misses stops its part
# and names itself.

# How long a wait goes on before it fails, on a machine with every CPU busy: for a window or a
# picture to answer a step, and for Yux's own heavy work (starting, ending a take, quitting). They
# only bound a failure; a run that goes well waits no longer than it must.
react_seconds=30
work_seconds=90

# The area recorded: it holds the test pattern and leaves room for the bubble.
take_area=(600 200 1400 800)
# Two places of the wallpaper: one inside the area clear of windows and the bubble, one outside
# it. The overlay dims what is not being recorded.
inside_area=($((take_area[0] + 50)) $((take_area[3] - 100)))
phone_serial="00008110-TESTPHONE"

home="$(mktemp -d)"
# Yux's own folders, kept from part to part as a user's are and fresh after a part fails; the
# desktop's programs keep theirs apart.
yux_home="$home/yux"
log="$yux_home/data/Yux/debug-log.jsonl"
started=()
yux_pid=""
failed_parts=()
# Yux's process id, also in a file: a part runs in a subshell and may stop before it stops Yux.
yux_pid_file="$home/yux.pid"
feed_pid_file="$home/feed.pid"
# stop_leftovers: Yux and the feed's server, whichever a part left running.
stop_leftovers() {
  local pid
  for file in "$yux_pid_file" "$feed_pid_file"; do
    if [ -s "$file" ]; then
      pid="$(cat "$file")"
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      if kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
    fi
    rm -f "$file"
  done
}
cleanup() {
  stop_leftovers
  for ((i=${#started[@]}-1; i>=0; i--)); do kill "${started[$i]}" 2>/dev/null || true; done
  for pid in "${started[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$home"
}
trap cleanup EXIT
# The run's time limit ends it with SIGTERM: say where it stood.
current_part="setting up the desktop"
trap 'echo "screenshots: stopped by the time limit during $current_part" >&2; exit 124' TERM
# A command that fails outside the waits below still says where.
set -E
on_error='echo "screenshots: failed at ${BASH_SOURCE[0]##*/}:$LINENO: $BASH_COMMAND" >&2'
trap "$on_error" ERR
export HOME="$home/desktop" XDG_CACHE_HOME="$home/desktop/cache" XDG_CONFIG_HOME="$home/desktop/config"
mkdir -p "$home/desktop" "$home/logs"
# Every picture in OUT_DIR is from this run.
rm -rf "$out"/*.png "$out/logs"
read -r screen_width screen_height < <(xdotool getdisplaygeometry)
outside_area=($((take_area[0] / 2)) $(((take_area[3] + screen_height) / 2)))
# screenshot_find.py looks at pictures of windows, run by the system's own interpreter where there
# is one: a version manager's shim in PATH costs more than a look itself.
finder="$root/scripts/screenshot_find.py"
python=python3
if [ -x /usr/bin/python3 ]; then python=/usr/bin/python3; fi
picture="$home/look.xwd"

# step NAME: the click or key that runs now, named by any failure until the next one.
step() { current_step="$1"; }
fail() {
  echo "screenshots: ${current_step:+step '$current_step': }$*" >&2
  exit 1
}

# wait_until SECONDS WHAT COMMAND...: polls COMMAND; gives up with WHAT, or quietly with
# status 1 when WHAT is empty.
wait_until() {
  local seconds="$1" what="$2"
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      [ -z "$what" ] && return 1
      fail "gave up after ${seconds} s waiting for $what"
    fi
    sleep 0.1
  done
}

# Yux trims its debug log to its last lines now and then, so a place in it is the text of its
# last line (each one holds its time), not a line number.
log_lines() { if [ -f "$log" ]; then tail -n 1 "$log"; fi; }
# logged_after MARK PATTERN: prints the first line after the line MARK that matches PATTERN; after
# any line when MARK is empty or was trimmed away.
logged_after() {
  [ -f "$log" ] && MARK="$1" PATTERN="$2" awk '
    FNR == NR { if ($0 == ENVIRON["MARK"]) marked = 1; next }
    FNR == 1 { after = !marked }
    after && $0 ~ ENVIRON["PATTERN"] { print; found = 1; exit }
    $0 == ENVIRON["MARK"] { after = 1 }
    END { exit !found }' "$log" "$log"
}
# wait_log MARK PATTERN WHAT [SECONDS]: a debug-log line after the line MARK matching PATTERN.
wait_log() { wait_until "${4:-$work_seconds}" "$3 (debug log: \"$2\")" logged_after "$1" "$2"; }

# The window manager runs while its check window lives. Without one no window has a frame or the
# focus, and Alt+F4 closes nothing.
window_manager() {
  local check
  check="$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | awk '/window id/ {print $NF}')"
  [ -n "$check" ] && xwininfo -id "$check" >/dev/null 2>&1
}

# set_wallpaper RRGGBB: a screen-sized wallpaper of that colour, set and published
# (_XROOTPMAP_ID) as wallpaper setters do: a compositing manager paints only a published one, and
# under one Yux records only a published one. The pixmap outlives this client with the display.
set_wallpaper() {
  python3 - "$1" <<'PY'
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
ptr, xid, num = ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int
for name, result, arguments in [
        ("XOpenDisplay", ptr, [ctypes.c_char_p]), ("XDefaultScreen", num, [ptr]),
        ("XRootWindow", xid, [ptr, num]), ("XDisplayWidth", num, [ptr, num]),
        ("XDisplayHeight", num, [ptr, num]), ("XDefaultDepth", num, [ptr, num]),
        ("XCreatePixmap", xid, [ptr, xid, ctypes.c_uint, ctypes.c_uint, ctypes.c_uint]),
        ("XCreateGC", ptr, [ptr, xid, ctypes.c_ulong, ptr]), ("XSetForeground", num, [ptr, ptr, ctypes.c_ulong]),
        ("XFillRectangle", num, [ptr, xid, ptr, num, num, ctypes.c_uint, ctypes.c_uint]),
        ("XSetWindowBackgroundPixmap", num, [ptr, xid, xid]), ("XClearWindow", num, [ptr, xid]),
        ("XInternAtom", xid, [ptr, ctypes.c_char_p, num]),
        ("XChangeProperty", num, [ptr, xid, xid, xid, num, num, ptr, num]),
        ("XSetCloseDownMode", num, [ptr, num]), ("XCloseDisplay", num, [ptr])]:
    getattr(x, name).restype, getattr(x, name).argtypes = result, arguments
display = x.XOpenDisplay(None)
if not display:
    sys.exit("set_wallpaper: no display")
screen = x.XDefaultScreen(display)
root = x.XRootWindow(display, screen)
width, height = x.XDisplayWidth(display, screen), x.XDisplayHeight(display, screen)
pixmap = x.XCreatePixmap(display, root, width, height, x.XDefaultDepth(display, screen))
gc = x.XCreateGC(display, pixmap, 0, None)
x.XSetForeground(display, gc, int(sys.argv[1], 16))
x.XFillRectangle(display, pixmap, gc, 0, 0, width, height)
x.XSetWindowBackgroundPixmap(display, root, pixmap)
x.XClearWindow(display, root)
value = xid(pixmap)
for atom in (b"_XROOTPMAP_ID", b"ESETROOT_PMAP_ID"):
    x.XChangeProperty(display, root, x.XInternAtom(display, atom, 0), 20, 32, 0, ctypes.byref(value), 1)
x.XSetCloseDownMode(display, 1)
x.XCloseDisplay(display)
PY
}

# The program itself takes the process id that is stopped at the end.
start_process() {
  (exec "$@") >>"$home/logs/clients.log" 2>&1 &
  started+=($!)
}
# start_client NAME COMMAND...: a program whose window is titled NAME, once it shows.
start_client() {
  local name="$1"
  shift
  start_process "$@"
  wait_until "$react_seconds" "the window \"$name\"" xdotool search --onlyvisible --name "^$name\$"
}

# Yux runs in a mount namespace of its own, where the test phone's daemon is where Yux looks for
# the USB multiplexer, and a network namespace of its own, whose loopback serves the update feed
# on a fixed port without meeting anything else on this machine. The desktop stays outside.
private=()
if unshare --mount --net true 2>/dev/null; then
  private=(unshare --mount --net)
elif unshare --map-root-user --mount --net true 2>/dev/null; then
  private=(unshare --map-root-user --mount --net)
fi
phone_socket=""
feed_log="$home/logs/feed.log"

# The test phone: a multiplexer daemon with a phone that films a face.
start_phone() {
  local first_line="$home/phone.out"
  "$root/build/tests/yux_fake_phone" >"$first_line" 2>>"$home/logs/phone.log" &
  started+=($!)
  wait_until "$react_seconds" "" test -s "$first_line" || { echo "screenshots: the test phone did not start" >&2; return 1; }
  phone_socket="$(head -n 1 "$first_line")"
  phone_camera="yux-usb:$phone_serial"
}

# in_private [FEED_PORT] env ... PROGRAM: PROGRAM in Yux's namespaces, with the feed's server when
# a port is given; the server's process id goes to $feed_pid_file.
in_private() {
  local port=""
  if [ "$1" != env ]; then port="$1"; shift; fi
  # Run in the background, this becomes Yux itself: its process id is the one Yux has.
  # shellcheck disable=SC2016
  exec "${private[@]}" bash -c '
    mount -t tmpfs -o mode=755 tmpfs /run || exit 1
    if [ -n "$1" ]; then ln -s "$1" /run/usbmuxd; fi
    ip link set lo up || exit 1
    if [ -n "$2" ]; then
      python3 -u -m http.server --bind 127.0.0.1 --directory "$3" "$2" >"$4" 2>&1 &
      echo $! >"$5"
      # Yux checks the feed as it starts: the server listens first.
      for _ in $(seq 100); do grep -q "Serving HTTP" "$4" 2>/dev/null && break; sleep 0.1; done
    fi
    shift 5
    exec "$@"' private "$phone_socket" "$port" "$home/feed" "$feed_log" "$feed_pid_file" "$@"
}

# Lines "id x y w h" of Yux's visible windows.
yux_windows() {
  local window
  for window in $(xdotool search --onlyvisible --pid "$yux_pid" 2>/dev/null); do
    xwininfo -id "$window" 2>/dev/null | awk -v id="$window" '
      /Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} /Width:/ {w=$2} /Height:/ {h=$2}
      END {if (w) print id, x, y, w, h}'
  done
}
window_with() {
  local found
  found="$(yux_windows | awk "$1" | head -n 1)"
  [ -n "$found" ] || return 1
  read -r found_id found_x found_y found_w found_h <<<"$found"
}
tray_icon() { window_with '$4 <= 32 && $5 <= 32'; }
panel_window() {
  window_with '$4 == 340' || return 1
  panel_id=$found_id panel_x=$found_x panel_y=$found_y panel_w=$found_w panel_h=$found_h
}
overlay_window() { window_with "\$4 == $screen_width && \$5 == $screen_height"; }
# The camera bubble: square, smaller than a quarter of the screen, not the tray icon.
bubble_window() { window_with '$4 == $5 && $4 > 32 && $4 < 500'; }
# The strip of the bubble's tools, 36 high.
camera_tools() { window_with '$5 == 36 && $4 > 200'; }
no_camera_tools() { ! camera_tools; }
named_window() {
  local window
  window="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)"
  [ -n "$window" ] || return 1
  found_id="$window"
}
question_window() { named_window '^Discard this recording\?$'; }
no_question_window() { ! question_window; }
update_window() { named_window '^Yux Update$' && update_id=$found_id; }
window_gone() { ! xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
trim_window_wait() {
  wait_until "$work_seconds" "the trim window" named_window '^Recording — Export$'
  trim_id=$found_id
}

# start_yux PROGRAM PREFERENCES [FEED_PORT]: Yux with these preferences, once its icon is in the
# tray. What earlier parts recorded stays, as for a user who starts it again.
start_yux() {
  step "start Yux"
  mkdir -p "$yux_home/config/Yux" "$yux_home/run"
  chmod 700 "$yux_home/run"
  printf '%s\n' "$2" >"$yux_home/config/Yux/preferences.json"
  local folders=(env HOME="$yux_home" XDG_DATA_HOME="$yux_home/data" XDG_CONFIG_HOME="$yux_home/config"
    XDG_CACHE_HOME="$yux_home/cache" XDG_RUNTIME_DIR="$yux_home/run")
  # Started after the panel's tray exists, as at a login; without one it opens as a window.
  wait_until "$react_seconds" "the panel's tray (tint2)" xdotool search --class tint2
  local mark
  mark=$(log_lines)
  if [ ${#private[@]} -gt 0 ]; then
    in_private ${3:+"$3"} "${folders[@]}" "$1" >>"$home/logs/yux.log" 2>&1 &
  else
    (exec "${folders[@]}" "$1") >>"$home/logs/yux.log" 2>&1 &
  fi
  yux_pid=$!
  echo "$yux_pid" >"$yux_pid_file"
  wait_log "$mark" "app_startup_settings" "Yux to start"
  wait_until "$react_seconds" "Yux's icon in the tray" tray_icon
}
stop_yux() {
  step "quit Yux"
  kill -TERM "$yux_pid"
  local pid=$yux_pid
  yux_pid=""
  wait_until "$work_seconds" "Yux to quit on SIGTERM" sh -c "! kill -0 $pid 2>/dev/null"
  wait "$pid" 2>/dev/null || true
  rm -f "$yux_pid_file"
  if [ -s "$feed_pid_file" ]; then
    kill "$(cat "$feed_pid_file")" 2>/dev/null || true
    rm -f "$feed_pid_file"
  fi
}

click() { xdotool mousemove "$1" "$2" click 1; }
# click_in WINDOW X Y: a click at X Y inside the window.
click_in() {
  local x y w h
  read -r x y w h < <(window_geometry "$1")
  click $((x + $2)) $((y + $3))
}
# drag X1 Y1 X2 Y2 with the left button, through a point between.
drag() {
  xdotool mousemove "$1" "$2" mousedown 1
  xdotool mousemove $((($1 + $3) / 2)) $((($2 + $4) / 2))
  xdotool mousemove "$3" "$4" mouseup 1
}

# The whole screen, with the pointer.
shot() {
  ffmpeg -loglevel error -y -f x11grab -video_size "${screen_width}x$screen_height" -i "$DISPLAY" -frames:v 1 \
    "$out/$1.png"
  echo "$out/$1.png (at ${SECONDS} s)"
}
# window_dump WINDOW FILE: what the window shows (the whole screen for "screen"), without the
# pointer, as xwd writes it.
window_dump() {
  if [ "$1" = screen ]; then xwd -silent -root -out "$2"; else xwd -silent -id "$1" -out "$2"; fi
}
# window_geometry WINDOW: "x y w h" of the window's inside.
window_geometry() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} /Width:/ {w=$2}
    /Height:/ {h=$2} END {print x, y, w, h}'
}
# look WINDOW WHAT QUERY [ARGUMENTS...]: asks screenshot_find.py QUERY about pictures of WINDOW
# (or "screen") until it answers, for $look_seconds (react_seconds by default); its answer is in
# $seen. Gives up with WHAT and what the last picture showed instead.
look() {
  local window="$1" what="$2" deadline=$((SECONDS + ${look_seconds:-$react_seconds}))
  shift 2
  while :; do
    if window_dump "$window" "$picture" 2>"$home/look.why" &&
      seen="$("$python" "$finder" "$picture" "$@" 2>"$home/look.why")"; then
      return 0
    fi
    if [ "$SECONDS" -ge "$deadline" ]; then fail "$what: $(tail -n 1 "$home/look.why")"; fi
    sleep 0.2
  done
}
# press WINDOW QUERY [ARGUMENTS...]: clicks the control QUERY finds in WINDOW; $clicked says where.
press() {
  local window="$1" x y
  shift
  look "$window" "found nothing to click" "$@"
  read -r x y _ <<<"$seen"
  click_in "$window" "$x" "$y"
  clicked="the click at ($x, $y)"
}
# after WINDOW QUERY [ARGUMENTS...]: the last click or key took effect: QUERY holds in WINDOW.
after() {
  local window="$1"
  shift
  look "$window" "the window did not change as expected after ${clicked:-the key}" "$@"
  clicked=""
}
# framed_geometry WINDOW: "x y w h" of the window with its title bar and frame, where it has them.
framed_geometry() {
  local x y w h left=0 right=0 top=0 bottom=0
  read -r x y w h < <(window_geometry "$1")
  read -r left right top bottom < <(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null |
    awk -F'= ' '/=/ {gsub(/,/, ""); print $2}') || true
  echo $((x - ${left:-0})) $((y - ${top:-0})) $((w + ${left:-0} + ${right:-0})) $((h + ${top:-0} + ${bottom:-0}))
}
# frame_geometry WINDOW: "x0 y0 x1 y1", the corners of the window with its frame.
frame_geometry() {
  local x y w h
  read -r x y w h < <(framed_geometry "$1")
  echo "$x" "$y" $((x + w - 1)) $((y + h - 1))
}
# window_shot NAME WINDOW: the window with its title bar and frame, where it has them.
window_shot() {
  local x y w h
  read -r x y w h < <(framed_geometry "$2")
  # The screen's part of it: the grab fails on a region past an edge.
  if [ "$x" -lt 0 ]; then w=$((w + x)) x=0; fi
  if [ "$y" -lt 0 ]; then h=$((h + y)) y=0; fi
  w=$((w < screen_width - x ? w : screen_width - x)) h=$((h < screen_height - y ? h : screen_height - y))
  ffmpeg -loglevel error -y -f x11grab -draw_mouse 0 -video_size "${w}x$h" -i "$DISPLAY+$x,$y" -frames:v 1 \
    "$out/$1.png"
  echo "$out/$1.png (at ${SECONDS} s)"
}
# A window holds still once two pictures a quarter second apart match; a caret that blinks on
# may keep it moving, so after a while the picture is taken as it is.
window_settle() {
  local previous="$home/still.a" current="$home/still.b"
  sleep 0.3
  window_dump "$1" "$previous"
  for _ in $(seq 8); do
    sleep 0.25
    window_dump "$1" "$current"
    cmp -s "$previous" "$current" && return 0
    mv "$current" "$previous"
  done
}
# The overlay repaints within a frame of a key or click; under a compositor the desktop below it
# plays on and never holds still, so this is a short pause, not a stillness check.
settle() { sleep 0.7; }

open_panel() {
  step "tray icon"
  wait_until "$react_seconds" "Yux's icon in the tray" tray_icon
  click $((found_x + found_w / 2)) $((found_y + found_h / 2))
  wait_until "$react_seconds" "the panel after a click on the tray icon" panel_window
  window_settle "$panel_id"
}
# panel_click STEP TARGET SHOWS...: clicks TARGET (the other tab, settings, about or back) where
# the panel shows it, waits until the panel shows SHOWS ("main", "main left|right" for the chosen
# tab, "page settings|about"), and lets it settle at its new size.
panel_click() {
  step "$1"
  local target="$2" answer x y
  shift 2
  panel_window || fail "the panel closed"
  look "$panel_id" "the panel shows neither its main page nor a page with a Back button" panel
  read -r -a answer <<<"$seen"
  case "${answer[0]}:$target" in
    main:tab) x=${answer[2]} y=${answer[3]} ;;
    main:settings) x=${answer[4]} y=${answer[5]} ;;
    main:about) x=${answer[6]} y=${answer[7]} ;;
    page:back) x=${answer[2]} y=${answer[3]} ;;
    *) fail "the panel shows a ${answer[0]} page, which has no $target to click" ;;
  esac
  click_in "$panel_id" "$x" "$y"
  clicked="the click at ($x, $y)"
  wait_until "$react_seconds" "the panel after $clicked" panel_window
  after "$panel_id" panel "$@"
  panel_window || fail "the panel closed"
  window_settle "$panel_id"
}
panel_shot() {
  panel_window || fail "the panel closed"
  window_settle "$panel_id"
  window_shot "$1" "$panel_id"
}
close_panel() {
  step "panel Escape"
  xdotool key Escape
  wait_until "$react_seconds" "the panel to close on Escape" sh -c "! xwininfo -id $panel_id 2>/dev/null | grep -q IsViewable"
}

# overlay_shows WHAT INSIDE OUTSIDE: the overlay leaves the wallpaper inside the area and outside
# it INSIDE and OUTSIDE (bright or dim), as a mode shows it; WHAT names the mode.
overlay_shows() {
  look screen "the overlay does not show $1 after ${clicked:-the key}" shade "${inside_area[@]}" "$wallpaper" "$2"
  look screen "the overlay does not show $1 after ${clicked:-the key}" shade "${outside_area[@]}" "$wallpaper" "$3"
}
# select_area: the shortcut opens the selection overlay, and a drag marks the area to record.
select_area() {
  local mark
  step "selection shortcut"
  mark=$(log_lines)
  xdotool key shift+super+6
  wait_log "$mark" "session_start_requested state=idle" "the shortcut to open the selection"
  wait_until "$react_seconds" "the selection overlay" overlay_window
  sleep 0.5
  step "selection drag"
  drag "${take_area[@]}"
  clicked="the drag from (${take_area[0]}, ${take_area[1]}) to (${take_area[2]}, ${take_area[3]})"
  overlay_area
}
# overlay_area: the overlay shows the area marked: clear inside its outline, dim outside.
overlay_area() {
  overlay_shows "the area" bright dim
  look screen "the area is not outlined after ${clicked:-the key}" outline "${take_area[@]}"
  clicked=""
}
# start_take: Return records the area marked.
start_take() {
  local mark started
  step "Return to record"
  # With the camera bubble's tools showing, a first Return ends its editing.
  if camera_tools; then
    xdotool key Return
    wait_until "$react_seconds" "the camera bubble's tools to go on Return" no_camera_tools
  fi
  mark=$(log_lines)
  xdotool key Return
  wait_log "$mark" "session_recording_started" "Return to start recording"
  started="$(logged_after "$mark" "capture start_request")"
  local area="${take_area[0]}.0,${take_area[1]}.0,$((take_area[2] - take_area[0])).0,$((take_area[3] - take_area[1])).0"
  [[ "$started" == *" rect=$area "* ]] || fail "the take is not of the area marked ($area): $started"
}
# stop_take: the shortcut stops the take; the trim window opens, shows the waveforms of the
# system audio and the microphone (worked out after it opens) and holds still. $take_movie is the
# take's movie and $take_seconds its length.
stop_take() {
  local mark
  step "shortcut to stop"
  mark=$(log_lines)
  xdotool key shift+super+6
  wait_log "$mark" "trim_preview_present_requested" "the shortcut to stop and open the trim window"
  take_movie="$(logged_after "$mark" "trim_preview_present_requested" |
    sed -n 's/.*trim_preview_present_requested scratch=\(.*\)","timestamp".*/\1/p')"
  movie_length "$take_movie"
  take_seconds=$movie_seconds
  trim_window_wait
  look_seconds=$work_seconds look "$trim_id" "the trim window shows no waveforms" waveforms system-audio microphone
  window_settle "$trim_id"
}

# movie_length MOVIE: $movie_seconds is how long the movie is.
movie_length() {
  movie_seconds="$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$1")" || true
  [[ "$movie_seconds" =~ ^[0-9]+(\.[0-9]+)?$ ]] ||
    fail "cannot tell how long the movie $1 is (ffprobe: ${movie_seconds:-nothing})"
}

# trim_seek NUM DEN: a click on the lanes at NUM/DEN of the take; the playhead goes there.
trim_seek() {
  step "trim seek to $1/$2"
  local left right top bottom x
  look "$trim_id" "the trim window shows no lanes" timeline
  read -r left right top bottom <<<"$seen"
  x=$((left + (right - left) * $1 / $2))
  click_in "$trim_id" "$x" $(((top + bottom) / 2))
  clicked="the click at ($x, $(((top + bottom) / 2)))"
  after "$trim_id" playhead "$x"
}
# trim_edit STEP CONTROL SECTIONS: a click on CONTROL (split, remove, speed-N) of the trim window;
# the result bar then shows SECTIONS (see screenshot_find.py).
trim_edit() {
  step "$1"
  press "$trim_id" transport "$2"
  after "$trim_id" sections "$3"
}
# trim_crop WIDTH HEIGHT X Y: crop editing on, the four fields typed in, crop editing off.
trim_crop() {
  local names=(width height x y) values=("$@") fields i x y inside
  step "trim Crop strip"
  press "$trim_id" crop-strip
  after "$trim_id" crop-strip on
  step "trim crop fields"
  look "$trim_id" "the trim window shows no crop fields" crop-fields
  mapfile -t fields <<<"$seen"
  # Each field shows its new value once left; the picture before any is typed is the reference.
  cp "$picture" "$home/fields.rgb"
  for i in 0 1 2 3; do
    step "trim crop ${names[$i]} field"
    read -r x y inside <<<"${fields[$i]}"
    trim_type "$x" "$y" "${values[$i]}"
    clicked="typing ${values[$i]} into the field at ($x, $y)"
    # shellcheck disable=SC2086  # the field's inside: four numbers
    after "$trim_id" differs "$home/fields.rgb" $inside
  done
  step "trim Crop strip, done"
  press "$trim_id" crop-strip
  after "$trim_id" crop-strip off
}
# trim_type X Y TEXT: replaces the text of the trim window's field at X Y and leaves it.
trim_type() {
  local x y w h
  read -r x y w h < <(window_geometry "$trim_id")
  xdotool mousemove $((x + $1)) $((y + $2)) click --repeat 3 1
  xdotool key ctrl+a
  xdotool type --delay 20 "$3"
  xdotool key Tab
}
# export_asked MARK WIDTH HEIGHT: the export asked for after the log line MARK is WIDTH x HEIGHT.
export_asked() {
  local requested
  wait_log "$1" "export_editor_export_requested" "the export to start after ${clicked:-Export}"
  requested="$(logged_after "$1" "export_editor_export_requested")"
  if ! [[ "$requested" =~ width=$2(\.0)?\ height=$3(\.0)? ]]; then
    fail "the export asked for is not ${2}x$3: $requested"
  fi
}
# exported MARK WIDTH HEIGHT CODEC SECONDS: the movie the export finished after the log line MARK
# is WIDTH x HEIGHT in CODEC (h264 or hevc) and lasts SECONDS, within a few frames.
exported() {
  local finished movie codec width height
  finished="$(logged_after "$1" "export_editor_export_completed")"
  movie="$(sed -n 's/.*export_editor_export_completed destination=\(.*\)","timestamp".*/\1/p' <<<"$finished")"
  [ -f "$movie" ] || fail "the export's movie \"$movie\" is not there"
  IFS=, read -r codec width height < <(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height \
    -of csv=p=0 "$movie") || true
  movie_length "$movie"
  if [ "${codec:-}:${width:-}x${height:-}" != "$4:${2}x$3" ] ||
    ! awk -v a="$movie_seconds" -v b="$5" 'BEGIN { exit !((a - b) ^ 2 < 0.15 ^ 2) }'; then
    fail "the export $movie is ${codec:-?} ${width:-?}x${height:-?} of $movie_seconds s, not $4 ${2}x$3 of $5 s"
  fi
  echo "screenshots: the export is $codec ${width}x$height of $movie_seconds s (about $5 s wanted)" >&2
}

# write_feed PORT: a feed with version 1.3.0, served from the loopback of Yux's namespace.
write_feed() {
  local folder="$home/feed"
  mkdir -p "$folder"
  head -c 4096 /dev/urandom >"$folder/yux-1.3.0.tar.gz"
  cat >"$folder/feed.xml" <<XML
<rss version="2.0" xmlns:yux="urn:yux:updates:1">
  <channel>
    <item>
      <title>Yux 1.3</title>
      <yux:version>1.3.0</yux:version>
      <yux:shortVersionString>1.3</yux:shortVersionString>
      <pubDate>Tue, 03 Mar 2026 10:00:00 +0000</pubDate>
      <enclosure url="http://127.0.0.1:$1/yux-1.3.0.tar.gz" length="4096"
                 yux:edSignature="$(head -c 64 /dev/zero | base64 -w 0)"/>
    </item>
  </channel>
</rss>
XML
}

# part WHAT FUNCTION: one part of the pictures. A part that fails says so, and leaves Yux stopped
# and its folders fresh for the next one.
part() {
  local what="$1" status=0
  shift
  echo "screenshots: $what" >&2
  current_part="$what" current_step=""
  # errexit only holds in a subshell that is not itself a condition.
  trap - ERR
  set +e
  (
    trap "$on_error" ERR
    set -e
    "$@"
  )
  status=$?
  set -e
  trap "$on_error" ERR
  if [ "$status" -ne 0 ]; then
    failed_parts+=("$what")
    window_manager || echo "screenshots: the window manager is not running (test-env.sh starts openbox)" >&2
    # What the screen showed and what Yux logged, before a fresh start for the next part.
    shot "failed-$1" || true
    if [ -f "$log" ]; then cp "$log" "$home/logs/debug-log-failed-$1.jsonl"; fi
    stop_leftovers
    rm -rf "$yux_home"
  fi
}

# finish: what was written, the logs beside the pictures, and which parts failed.
finish() {
  mkdir -p "$out/logs"
  cp "$home"/logs/* "$out/logs/" 2>/dev/null || true
  if [ -f "$log" ]; then cp "$log" "$out/logs/"; fi
  echo "screenshots: $(find "$out" -maxdepth 1 -name '*.png' | wc -l) pictures in $out, logs in $out/logs" >&2
  if [ ${#failed_parts[@]} -gt 0 ]; then
    printf 'screenshots: failed: %s\n' "${failed_parts[@]}" >&2
    exit 1
  fi
}
