#!/usr/bin/env bash
# Time from process start to the launch probe saying "visible", median of 5 launches of the
# application under one X server. Run inside scripts/headless-session.sh (or any X display).
#   bench/app_launch.sh [BUILD_DIR]
set -euo pipefail
build=${1:-$(dirname "$0")/../build-app}
korvo="$build/src/app/korvo"
probe=$(mktemp -u /tmp/korvo-probe.XXXXXX)
times=()
for run in 1 2 3 4 5; do
  rm -f "$probe"
  start=$(date +%s%N)
  KORVO_START_ROUTE=local KORVO_LAUNCH_PROBE_PATH="$probe" "$korvo" >/dev/null 2>&1 &
  pid=$!
  until [ -f "$probe" ] && grep -q visible "$probe"; do
    sleep 0.005
    if ! kill -0 "$pid" 2>/dev/null; then echo "korvo exited before showing its window" >&2; exit 1; fi
  done
  end=$(date +%s%N)
  kill "$pid"; wait "$pid" 2>/dev/null || true
  times+=($(( (end - start) / 1000000 )))
done
rm -f "$probe"
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "launch to visible main window, ms: ${times[*]}"
echo "median ${sorted[2]} ms (target under 1000 ms)"
