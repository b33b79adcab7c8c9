#!/usr/bin/env bash
# The application at launch and at rest, each build side by side, taking turns:
#  - time from process start to the launch probe saying "visible";
#  - the processor time of the idle window's process over 5 s, measured 8 s after launch, and
#    the frames it drew meanwhile (QSG_RENDER_TIMING lines);
#  - its resident memory (VmRSS) at that point.
# Every launch gets a D-Bus session, an X server (1440x900) and a temporary HOME of its own.
# ROUTES are KORVO_START_ROUTE values; "default" runs the launch decision (local mode on a
# fresh HOME). Figures are medians over the rounds.
#   bench/app_launch.sh [-n ROUNDS] [-r "ROUTES"] BUILD_DIR...
#   (defaults: 5 rounds, routes "default main", the build in ./build)
set -euo pipefail
rounds=5
routes="default main"
while getopts "n:r:" option; do
  case $option in
    n) rounds=$OPTARG ;;
    r) routes=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=("$(dirname "$0")/../build")

# One launch inside its own session; prints "launch_ms cpu_percent frames rss_mb".
one_launch() {
  local korvo=$1 route=$2
  local home
  home=$(mktemp -d /tmp/korvo-launch.XXXXXX)
  HOME="$home" XDG_RUNTIME_DIR="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
    XDG_CACHE_HOME="$home/.cache" KORVO_BENCH_BINARY="$korvo" KORVO_BENCH_ROUTE="$route" \
    dbus-run-session -- xvfb-run -a -s "-screen 0 1440x900x24" bash -c '
      set -u
      probe=$HOME/probe log=$HOME/render.log
      [ "$KORVO_BENCH_ROUTE" = default ] || export KORVO_START_ROUTE=$KORVO_BENCH_ROUTE
      tick=$(getconf CLK_TCK)
      start=$(date +%s%N)
      QSG_RENDER_TIMING=1 KORVO_LAUNCH_PROBE_PATH=$probe "$KORVO_BENCH_BINARY" >/dev/null 2>"$log" &
      pid=$!
      until grep -qs visible "$probe"; do
        sleep 0.005
        kill -0 $pid 2>/dev/null || { echo "korvo exited before showing its window" >&2; exit 1; }
      done
      launch=$(( ($(date +%s%N) - start) / 1000000 ))
      cpu() { awk "{ print \$14 + \$15 }" /proc/$pid/stat; }
      frames() { grep -ci "frame rendered" "$log" || true; }
      sleep $(awk "BEGIN { print 8 - ($(date +%s%N) - $start) / 1e9 }")
      cpu0=$(cpu) frames0=$(frames)
      sleep 5
      cpu1=$(cpu) frames1=$(frames)
      rss=$(awk "/VmRSS/ { print \$2 }" /proc/$pid/status)
      kill $pid; wait $pid 2>/dev/null || true
      awk -v l=$launch -v c=$((cpu1 - cpu0)) -v t=$tick -v f=$((frames1 - frames0)) -v r=$rss \
        "BEGIN { printf \"%d %.1f %d %.0f\n\", l, 100 * c / t / 5, f, r / 1024 }"'
  rm -rf "$home"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

results=$(mktemp)
trap 'rm -f "$results"' EXIT
for round in $(seq "$rounds"); do
  for index in "${!builds[@]}"; do
    # Taking turns: even rounds run the builds in reverse order.
    b=$(( round % 2 ? index : ${#builds[@]} - 1 - index ))
    for route in $routes; do
      echo "$b $route $(one_launch "${builds[$b]}/src/app/korvo" "$route")" >>"$results"
    done
  done
done
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-40s %-8s %12s %14s %12s %8s\n' build route "launch ms" "idle cpu %" "idle frames" "RSS MB"
for index in "${!builds[@]}"; do
  for route in $routes; do
    rows=$(awk -v b="$index" -v r="$route" '$1 == b && $2 == r' "$results")
    column() { echo "$rows" | awk -v c="$1" '{ print $c }' | median; }
    printf '%-40s %-8s %12s %14s %12s %8s\n' "${builds[$index]}" "$route" "$(column 3)" "$(column 4)" "$(column 5)" "$(column 6)"
    echo "$rows" | awk '{ printf "    launch %s ms, cpu %s %%, frames %s, rss %s MB\n", $3, $4, $5, $6 }'
  done
done
