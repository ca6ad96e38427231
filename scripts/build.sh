#!/usr/bin/env bash
# build.sh [build folder] [cmake options...]: configures (once) and builds.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
shift || true
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${YUX_BUILD_TYPE:-RelWithDebInfo}" "$@"
fi
cmake --build "$build" ${YUX_BUILD_TARGET:+--target $YUX_BUILD_TARGET}
