#!/usr/bin/env bash
# Runs every libFuzzer target for SECONDS each (default 60) from its committed seeds, then the
# random-request harness of the bridge's request reader. The targets and the engine under them
# are built with clang and the sanitizers in the sanitizer run's tree, build-sanitize/ (only the
# targets here). New inputs go to build-sanitize/fuzz/found; a crash leaves its input in
# build-sanitize/fuzz/ and fails the run.
#   scripts/fuzz.sh [SECONDS]      scripts/fuzz.sh --build-only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVO_SANITIZE_DIR:-$root/build-sanitize}
targets=(local_open bridge_envelope history public_key_cache)
if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang is required for fuzzing (scripts/install-deps.sh installs it)." >&2
  exit 1
fi
if [ -f "$build/CMakeCache.txt" ] && ! grep -q '^KORVO_BUILD_FUZZ:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "$build was configured without the fuzz targets (no clang then); remove it and run again." >&2
  exit 1
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKORVO_BUILD_APP=OFF -DKORVO_BUILD_BENCH=OFF -DKORVO_SANITIZE=ON -DKORVO_BUILD_FUZZ=ON
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"
[ "${1:-}" = "--build-only" ] && exit 0
seconds=${1:-60}
for target in "${targets[@]}"; do
  mkdir -p "$build/fuzz/found/$target"
  echo "== $target ($seconds s)"
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz/" "$build/fuzz/found/$target" "$root/fuzz/corpus/$target" 2>&1 \
    | grep -E '^(stat::number_of_executed_units|Done|==[0-9]+==ERROR|SUMMARY)|runtime error|deadly' || true
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "$target: crash, see $build/fuzz/" >&2; exit 1; }
done
echo "== bridge_request ($seconds s)"
node "$root/fuzz/bridge_request_fuzz.mjs" "$seconds"
