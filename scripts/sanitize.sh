#!/usr/bin/env bash
# Builds the engine, the command-line tool and their suites (not the views, not the benchmarks)
# with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/, and runs them inside a
# private headless session. With clang the same tree holds the libFuzzer targets, which the
# suite runs for a few seconds each (fuzz.*); scripts/fuzz.sh runs them longer.
#   scripts/sanitize.sh [CTEST ARGS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVO_SANITIZE_DIR:-$root/build-asan}
if [ ! -f "$build/build.ninja" ]; then
  compilers=() fuzz=OFF
  if command -v clang++ >/dev/null 2>&1; then
    compilers=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) fuzz=ON
  fi
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${compilers[@]}" \
    -DKORVO_BUILD_APP=OFF -DKORVO_BUILD_BENCH=OFF -DKORVO_SANITIZE=ON -DKORVO_BUILD_FUZZ=$fuzz
fi
cmake --build "$build" -j "$(nproc)"
cd "$build"
# The node suites gain nothing from a sanitized build; the main run has them.
"$root/scripts/headless-session.sh" ctest --output-on-failure --timeout 900 -E '^node\.' "$@"
