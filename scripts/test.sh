#!/usr/bin/env bash
# The test command: installs what is missing, builds, runs every test label inside the test
# environment, then builds the unit tests with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs them, and builds the fuzz programs of bench/fuzz (they are run by hand).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc)"
"$root/scripts/install-deps.sh" --tests
# No debug information: a quarter less compile time and most of the disk on CI's small machine.
"$root/scripts/build.sh" "$root/build" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG"
# --no-tests=error: a selection that finds no test (a listing that came back empty) fails.
"$root/scripts/test-env.sh" ctest --test-dir "$root/build" --output-on-failure --no-tests=error -j "$jobs" -LE soak
# The desktop and end-to-end tests again on the desktop most users have: a compositing manager
# and PipeWire's sound server.
echo "test.sh: the desktop and e2e labels again, with picom and PipeWire"
"$root/scripts/test-env.sh" --compositor --pipewire \
  ctest --test-dir "$root/build" --output-on-failure --no-tests=error -j "$jobs" -L 'desktop|e2e'
# The program builds and runs with the first package list alone (scripts/packages.txt).
"$root/scripts/check-packages.sh" "$root/build/src/shell/yux"
# Last and alone: many takes in a row while commands keep coming.
"$root/scripts/test-env.sh" ctest --test-dir "$root/build" --output-on-failure --no-tests=error -L soak
if [ "${YUX_SKIP_SANITIZERS:-0}" != "1" ]; then
  # Line tables only: the reports keep their file and line, the compile takes a sixth less.
  YUX_BUILD_TYPE=Debug YUX_BUILD_TARGET=unit_tests \
    "$root/scripts/build.sh" "$root/build-sanitize" -DYUX_SANITIZE=ON -DYUX_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS_DEBUG="-g1"
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$root/build-sanitize" -L unit --output-on-failure --no-tests=error -j "$jobs"
fi
if [ "${YUX_SKIP_FUZZ_BUILD:-0}" != "1" ]; then
  # Only the fuzz programs and the libraries they link, so CI stays quick.
  YUX_BUILD_TARGET=fuzzers "$root/scripts/build.sh" "$root/build-fuzz" \
    -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14 -DYUX_FUZZ=ON -DYUX_BUILD_TESTS=OFF
fi
