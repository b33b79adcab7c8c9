#!/usr/bin/env bash
# Builds the engine, the command-line tool, their suites and the libFuzzer targets (not the views,
# not the benchmarks) with AddressSanitizer and UndefinedBehaviorSanitizer into one clang tree,
# build-sanitize/, and runs them inside a private headless session: the suites, then each fuzz target
# for a few seconds from its committed seeds (fuzz.*); scripts/fuzz.sh runs them longer in the
# same tree. Without clang the suites are built with the usual compiler and the fuzz targets are
# left out.
#   scripts/sanitize.sh [CTEST ARGS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVO_SANITIZE_DIR:-$root/build-sanitize}
if [ ! -f "$build/build.ninja" ]; then
  compilers=() fuzz=OFF
  if command -v clang++ >/dev/null 2>&1; then
    compilers=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) fuzz=ON
  else
    echo "clang not found: the fuzz targets are not built or run (scripts/install-deps.sh installs it)." >&2
  fi
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${compilers[@]}" \
    -DKORVO_BUILD_APP=OFF -DKORVO_BUILD_BENCH=OFF -DKORVO_SANITIZE=ON -DKORVO_BUILD_FUZZ=$fuzz
fi
cmake --build "$build" -j "$(nproc)"
# The node suites gain nothing from a sanitized build; the main run has them.
(cd "$build" && "$root/scripts/headless-session.sh" ctest --output-on-failure --timeout 900 -E '^node\.' "$@")
