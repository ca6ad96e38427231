#!/usr/bin/env bash
# run.sh: installs what is missing (sudo only for apt-get), builds, and starts Yux as the
# calling user on the current X11 desktop. Extra arguments go to Yux.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ -z "${DISPLAY:-}" ]; then
  echo "run.sh: Yux needs an X11 desktop: start it from a terminal inside your desktop session (DISPLAY is not set)." >&2
  exit 1
fi
"$root/scripts/install-deps.sh"
YUX_BUILD_TARGET=yux "$root/scripts/build.sh" "$root/build"
exec "$root/build/src/shell/yux" "$@"
