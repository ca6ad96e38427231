#!/usr/bin/env bash
# check-packages.sh [PROGRAM]: proves that scripts/packages.txt alone builds and runs Yux. It
# configures the program alone (no tests, no benchmarks) in a scratch folder, maps every include
# folder the compiler is given and every library the program links (and, given a built PROGRAM,
# every shared library it loads) to its Debian package, and fails when one comes from a package
# outside that list and what the list pulls in. It also fails when the list pulls in a sound server.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
program="${1:-}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

mapfile -t listed < <(grep -v '^\s*#' "$root/scripts/packages.txt" | sed '/^\s*$/d')
# What installing the list brings: the listed packages and everything they depend on.
apt-cache depends --recurse --installed --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances "${listed[@]}" 2>/dev/null | grep -v '^ ' | sed 's/:.*$//' | sort -u >"$scratch/allowed"
for server in pulseaudio pipewire-pulse pipewire-bin wireplumber; do
  if grep -qx "$server" "$scratch/allowed"; then
    echo "check-packages: scripts/packages.txt pulls in the sound server $server" >&2
    exit 1
  fi
done

cmake -S "$root" -B "$scratch/build" -G Ninja -DYUX_BUILD_TESTS=OFF -DYUX_BUILD_BENCH=OFF >"$scratch/configure.log" 2>&1 || {
  cat "$scratch/configure.log" >&2
  echo "check-packages: Yux does not configure without the test packages" >&2
  exit 1
}

# Include folders of every compiled file, and the program's link line.
grep -oE '(-I|-isystem )[^ "]+' "$scratch/build/compile_commands.json" | sed -E 's/^(-I|-isystem )//' | sort -u >"$scratch/includes"
awk '/^build src\/shell\/yux:/ {found = 1} found && /LINK_LIBRARIES =/ {sub(/.*LINK_LIBRARIES = /, ""); print; exit}' \
  "$scratch/build/build.ninja" | tr ' ' '\n' | sed '/^$/d' >"$scratch/link"
libraries=()
while read -r item; do
  case "$item" in
    -Wl,*|-pthread) ;;
    -l*) libraries+=("$(gcc -print-file-name="lib${item#-l}.so")") ;;
    /*) libraries+=("$item") ;;
  esac
done <"$scratch/link"
if [ -n "$program" ]; then
  if [ ! -x "$program" ]; then echo "check-packages: no program at $program" >&2; exit 1; fi
  while read -r loaded; do libraries+=("$loaded"); done < <(ldd "$program" | awk '/=> \// {print $3}')
fi

paths=()
while read -r folder; do paths+=("$folder"); done <"$scratch/includes"
paths+=("${libraries[@]}")

# One dpkg query for every path and its other spellings: the link's target, and the same path
# with or without /usr (merged /usr makes /lib and /usr/lib one place).
declare -A owners
spellings() { printf '%s\n' "$1" "$(readlink -f "$1")" "${1#/usr}" "/usr$1"; }
mapfile -t asked < <(for path in "${paths[@]}"; do spellings "$path"; done | sort -u)
while IFS= read -r line; do
  owners["${line#*: }"]="$(echo "${line%%: *}" | tr ',' '\n' | sed 's/^ *//; s/:.*$//')"
done < <(dpkg -S "${asked[@]}" 2>/dev/null | grep -v '^diversion ')

outside=0
checked=0
check() {
  local kind="$1" path="$2" found="" spelling
  case "$path" in "$root"/*|"$scratch"/*) return ;; esac
  checked=$((checked + 1))
  while read -r spelling; do
    if [ -n "${owners[$spelling]:-}" ]; then found="${owners[$spelling]}"; break; fi
  done < <(spellings "$path")
  if [ -z "$found" ]; then
    echo "check-packages: the $kind $path belongs to no Debian package" >&2
    outside=$((outside + 1))
    return
  fi
  # A folder shared by several packages is fine when one of them comes with the list.
  if ! grep -qxF -f <(echo "$found") "$scratch/allowed"; then
    echo "check-packages: the $kind $path comes from $(echo "$found" | paste -sd, -), which scripts/packages.txt does not install" >&2
    outside=$((outside + 1))
  fi
}
while read -r folder; do check "include folder" "$folder"; done <"$scratch/includes"
for library in "${libraries[@]}"; do check library "$library"; done
if [ "$outside" -ne 0 ]; then
  echo "check-packages: $outside of $checked paths come from outside scripts/packages.txt" >&2
  exit 1
fi
echo "check-packages: all $checked include folders and libraries come from the ${#listed[@]} packages of scripts/packages.txt"
