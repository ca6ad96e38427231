#!/usr/bin/env bash
# stress-tests.sh [OPTIONS] [-- CTEST SELECTION...]: runs tests again and again, each run on a
# fresh test desktop (scripts/test-env.sh), optionally beside the load of a build or pinned to
# a few CPUs, and ends with a table of runs and failures per test. For finding the test that
# fails once in twenty before CI does; CI does not run it.
#   --runs N        runs (default 20)
#   --load N        N compiler loops beside the tests, each compiling the project's sources one
#                   after another as a build does (default 0; twice the CPU count is "loaded")
#   --cpus LIST     the tests (not the load) run pinned to these CPUs (taskset -c LIST), with
#                   as many ctest jobs as CPUs
#   --compositor, --pipewire   go to scripts/test-env.sh
#   --no-desktop    runs ctest without a test desktop, as the test command runs the sanitizer
#                   build's unit tests
#   --build DIR     the build folder (default build); a sanitizer build (scripts/test.sh builds
#                   one in build-sanitize) runs with the test command's sanitizer options
#   --out DIR       logs and the table (default a new folder under /tmp)
# The selection defaults to the desktop, e2e and soak labels: -L 'desktop|e2e|soak'. The unit
# tests as the test command runs them, beside a build's load:
#   scripts/stress-tests.sh --load 16 -- -L unit
#   scripts/stress-tests.sh --load 16 --no-desktop --build build-sanitize -- -L unit
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs=20 load=0 cpus="" build="$root/build" out="" env_options=() desktop=1
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --load) load="$2"; shift 2 ;;
    --cpus) cpus="$2"; shift 2 ;;
    --compositor|--pipewire) env_options+=("$1"); shift ;;
    --no-desktop) desktop=0; shift ;;
    --build) build="$(cd "$2" && pwd)"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --) shift; break ;;
    *) echo "usage: scripts/stress-tests.sh [--runs N] [--load N] [--cpus LIST] [--compositor] [--pipewire] [--no-desktop] [--build DIR] [--out DIR] [-- CTEST SELECTION...]" >&2; exit 2 ;;
  esac
done
selection=("$@")
[ ${#selection[@]} -gt 0 ] || selection=(-L 'desktop|e2e|soak')
[ -n "$out" ] || out="$(mktemp -d /tmp/yux-stress-XXXXXX)"
mkdir -p "$out"
[ -f "$build/build.ninja" ] || { echo "stress-tests: no build in $build (run scripts/build.sh first)" >&2; exit 2; }

loaders=()
stop_load() { for pid in "${loaders[@]}"; do kill -- "-$pid" 2>/dev/null; done; }
trap stop_load EXIT
trap 'exit 130' INT TERM
if [ "$load" -gt 0 ]; then
  # The project's own compile commands, written nowhere: the memory and processes of a build.
  commands="$out/load-commands.sh"
  # No compiler cache: a cached compile would be no load.
  ninja -C "$build" -t commands | grep -E ' -c \S+\.cpp$' \
    | sed -E 's/^\S*ccache //; s/ -MD -MT \S+ -MF \S+//; s/ -o \S+/ -o \/dev\/null/' \
    | shuf --random-source=/dev/zero >"$commands"
  count="$(wc -l <"$commands")"
  [ "$count" -gt 0 ] || { echo "stress-tests: no compile commands found for the load" >&2; exit 2; }
  for ((i = 0; i < load; i++)); do
    setsid bash -c "cd '$build'; n=$i; while :; do sed -n \"\$((n % $count + 1))p\" '$commands' | bash >/dev/null 2>&1; n=\$((n + $load)); done" &
    loaders+=($!)
  done
  echo "stress-tests: $load compiler loops running ($count sources)"
fi

if grep -q '^YUX_SANITIZE:BOOL=ON$' "$build/CMakeCache.txt"; then
  # As scripts/test.sh runs them.
  export ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1
fi
environment=("$root/scripts/test-env.sh" "${env_options[@]}")
[ "$desktop" = 1 ] || environment=()
pin=()
jobs="$(nproc)"
if [ -n "$cpus" ]; then
  pin=(taskset -c "$cpus")
  jobs="$(taskset -c "$cpus" nproc)"
fi
results="$out/results.tsv"
: >"$results"
for ((run = 1; run <= runs; run++)); do
  log="$out/run-$run.log"
  started=$SECONDS
  "${pin[@]}" "${environment[@]}" ctest --test-dir "$build" --output-on-failure -j "$jobs" "${selection[@]}" >"$log" 2>&1
  status=$?
  # "  3/23 Test #25: model_desktop_tests ......   Passed   12.3 sec" and its failing twins.
  sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: (\S+) \.+[ *]*([A-Za-z]+).*/\1\t\2/p' "$log" \
    | sed "s/^/$run\t/" >>"$results"
  # A run that failed with no test failing never got as far (the desktop did not come up).
  if [ "$status" != 0 ] && ! awk -F'\t' -v r="$run" '$1 == r && $3 != "Passed" {found = 1} END {exit !found}' "$results"; then
    printf '%s\t%s\t%s\n' "$run" "(the run itself)" "Failed" >>"$results"
  fi
  failed="$(awk -F'\t' -v r="$run" '$1 == r && $3 != "Passed" {print $2}' "$results" | tr '\n' ' ')"
  load_now="$(cut -d' ' -f1 /proc/loadavg)"
  echo "run $run: $((SECONDS - started)) s, load $load_now, ${failed:-all passed}"
  [ -n "$failed" ] && grep -E '^\[  FAILED  \] [A-Za-z]|^test-env: ' "$log" | sort -u | sed 's/^/    /'
done

echo
printf '%-40s %5s %8s\n' test runs failures
awk -F'\t' '{n[$2]++; if ($3 != "Passed") f[$2]++} END {for (t in n) printf "%-40s %5d %8d\n", t, n[t], f[t]}' \
  "$results" | sort
echo "logs: $out"
