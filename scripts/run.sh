#!/usr/bin/env bash
# run.sh [PREFIX]: installs the packages Yux builds and runs with (scripts/packages.txt; sudo only
# for apt-get), builds it, installs it into PREFIX (default ~/.local, no sudo) and starts the
# installed Yux detached from the terminal, its output in $XDG_STATE_HOME/Yux/yux.log. When Yux
# already runs, it still rebuilds and reinstalls, and says so.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
prefix="${1:-${YUX_PREFIX:-$HOME/.local}}"
case "$prefix" in /*) ;; *) prefix="$PWD/$prefix" ;; esac
if [ -z "${DISPLAY:-}" ]; then
  echo "run.sh: Yux needs an X11 desktop: start it from a terminal inside your desktop session (DISPLAY is not set)." >&2
  exit 1
fi

"$root/scripts/install-deps.sh"
# The program alone, without tests or benchmarks, in a folder of its own.
"$root/scripts/build.sh" "$root/build-run" -DYUX_BUILD_TESTS=OFF -DYUX_BUILD_BENCH=OFF
# Where Yux keeps its lock: the same rule as the program's (absolute XDG paths only).
absolute() { case "${1:-}" in /*) echo "$1" ;; *) echo "$2" ;; esac; }
cache="$(absolute "${XDG_CACHE_HOME:-}" "$HOME/.cache")/Yux"
lock="$(absolute "${XDG_RUNTIME_DIR:-}" "$cache")/yux.lock"
running() { [ -e "$lock" ] && ! flock -n "$lock" true 2>/dev/null; }
program="$prefix/bin/yux"
cmake --install "$root/build-run" --prefix "$prefix" --strip >/dev/null

if running; then
  echo "Yux is already running; the new build in $program starts once you quit Yux (Quit in its panel) and start it again."
  exit 0
fi
log="$(absolute "${XDG_STATE_HOME:-}" "$HOME/.local/state")/Yux/yux.log"
mkdir -p "$(dirname "$log")"
# The previous run's log is kept once.
if [ -f "$log" ]; then mv -f "$log" "$log.1"; fi
# Its own session: closing the terminal sends it no hang-up.
setsid "$program" </dev/null >"$log" 2>&1 &
pid=$!
disown
# Started once it holds its lock (read from /proc/locks: taking the lock to test it could make
# the starting program think another one runs); a program that ends at once shows why.
holds_lock() {
  local inode
  inode="$(stat -c %i "$lock" 2>/dev/null)" || return 1
  awk -v pid="$1" -v inode="$inode" '$2 == "FLOCK" && $5 == pid && $6 ~ (":" inode "$") {found = 1} END {exit !found}' /proc/locks
}
for _ in $(seq 100); do
  if holds_lock "$pid"; then
    echo "Yux runs in the panel's tray; Shift+Super+6 records (unless you changed the shortcut in the panel). Log: $log"
    exit 0
  fi
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "run.sh: Yux ended at once; its log $log says:" >&2
    tail -n 20 "$log" >&2
    exit 1
  fi
  sleep 0.1
done
echo "Yux is starting; Shift+Super+6 records (unless you changed the shortcut in the panel). Log: $log"
