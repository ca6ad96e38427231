#!/usr/bin/env bash
# install_layout_test.sh CMAKE BUILD_DIR: installs the build into temporary prefixes, one with a
# blank in its path as home folders may have, and one staged through DESTDIR as packagers do,
# and checks what a desktop reads there: the program, a valid desktop entry whose Exec is the
# installed program's absolute path, and the icon at every size.
set -uo pipefail
cmake="$1"
build="$2"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Width and height from a PNG's header.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print ($1*16777216 + $2*65536 + $3*256 + $4) "x" ($5*16777216 + $6*65536 + $7*256 + $8)}'; }

# check ROOT PREFIX EXPECTED_EXEC: the installed files under ROOT (PREFIX with DESTDIR).
check() {
  local root="$1" prefix="$2" exec_line="$3"
  [ -x "$root$prefix/bin/yux" ] || fail "no program at $root$prefix/bin/yux"
  local entry="$root$prefix/share/applications/com.zt.yux.desktop"
  if [ ! -f "$entry" ]; then fail "no desktop entry at $entry"; return; fi
  desktop-file-validate "$entry" || fail "desktop-file-validate refuses $entry"
  local found
  found="$(grep '^Exec=' "$entry")"
  [ "$found" = "Exec=$exec_line" ] || fail "$entry has '$found', not 'Exec=$exec_line'"
  for key in 'Name=Yux' 'Icon=com.zt.yux' 'Categories=AudioVideo;Video;Recorder;' 'StartupNotify=false' 'Type=Application'; do
    grep -qxF "$key" "$entry" || fail "$entry lacks $key"
  done
  grep -q '^Comment=.' "$entry" || fail "$entry has no Comment"
  local icons="$root$prefix/share/icons/hicolor"
  for size in 16 22 24 32 48 64 128 256; do
    local png="$icons/${size}x${size}/apps/com.zt.yux.png"
    if [ ! -f "$png" ]; then fail "no icon at $png"; continue; fi
    [ "$(png_size "$png")" = "${size}x${size}" ] || fail "$png is $(png_size "$png"), not ${size}x${size}"
  done
  grep -q '<svg' "$icons/scalable/apps/com.zt.yux.svg" 2>/dev/null || fail "no SVG icon at $icons/scalable/apps"
}

plain="$scratch/prefix"
"$cmake" --install "$build" --prefix "$plain" >/dev/null || fail "cmake --install into $plain failed"
check "" "$plain" "$plain/bin/yux"

blank="$scratch/my home/.local"
"$cmake" --install "$build" --prefix "$blank" >/dev/null || fail "cmake --install into '$blank' failed"
check "" "$blank" "\"$blank/bin/yux\""

# Staged: the files land under DESTDIR, the entry names where they will be.
DESTDIR="$scratch/stage" "$cmake" --install "$build" --prefix /opt/yux >/dev/null || fail "staged install failed"
check "$scratch/stage" /opt/yux /opt/yux/bin/yux

[ "$failures" -eq 0 ]
