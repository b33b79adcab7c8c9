#!/usr/bin/env bash
# Builds the engine, the command-line tool and their suites (not the views, not the benchmarks)
# with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ with the usual compiler,
# and runs them inside a private headless session. Then, when clang is there, builds the
# libFuzzer targets (also sanitized) into build-fuzz/ and runs each for a few seconds (fuzz.*);
# scripts/fuzz.sh runs them longer.
#   scripts/sanitize.sh [CTEST ARGS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVO_SANITIZE_DIR:-$root/build-asan}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKORVO_BUILD_APP=OFF -DKORVO_BUILD_BENCH=OFF -DKORVO_SANITIZE=ON
fi
cmake --build "$build" -j "$(nproc)"
# The node suites gain nothing from a sanitized build; the main run has them.
(cd "$build" && "$root/scripts/headless-session.sh" ctest --output-on-failure --timeout 900 -E '^node\.' "$@")
if command -v clang++ >/dev/null 2>&1; then
  "$root/scripts/fuzz.sh" --build-only
  (cd "${KORVO_FUZZ_DIR:-$root/build-fuzz}" && ctest --output-on-failure -R '^fuzz\.' "$@")
else
  echo "clang not found: the fuzz targets were not built or run." >&2
fi
