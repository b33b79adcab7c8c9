#!/usr/bin/env bash
# Bundling speed: `korvo-cli bundle` against `zip -0 -r`, `7z a -tzip -mx=0` and `tar cf` on
# one 1 GiB file, folders of 20,000 and 40,000 small files, and 100,000 tiny files.
# Prints the median wall time (and CPU time) of several runs and the ratios.
#
#   bench/bundle.sh [BUILD_DIR] [RUNS]        (defaults: build-zip, 5)
#   CASES="big small20k small40k tiny100k" bench/bundle.sh ...   to choose cases
#
# Data lives in a fresh folder under /tmp and is removed at the end. Needs zip, 7z (p7zip-full).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build-zip}" && pwd)"
RUNS="${2:-5}"
CASES="${CASES:-big small20k small40k tiny100k}"

KORVO="$BUILD/src/cli/korvo-cli"
KORVO_ARGS=(bundle -o)
if [[ ! -x "$KORVO" ]]; then
  KORVO="$BUILD/bench/bench_bundle"   # same writer, same call, without the command-line tool
  KORVO_ARGS=(-o)
fi
[[ -x "$KORVO" ]] || { echo "build korvo-cli or bench_bundle in $BUILD first" >&2; exit 1; }
for tool in zip 7z tar python3; do command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }; done

WORK="$(mktemp -d /tmp/korvo-bundle-bench.XXXXXX)"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

# ---- data ----------------------------------------------------------------------------------
make_tree() {  # make_tree NAME COUNT MIN_BYTES MAX_BYTES: files in folders of 1,000
  python3 - "$@" <<'EOF'
import os, random, sys
name, count, low, high = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rng = random.Random(count)
blob = os.urandom(high)
for i in range(count):
    folder = os.path.join(name, "part%03d" % (i // 1000))
    if i % 1000 == 0:
        os.makedirs(folder, exist_ok=True)
    size = rng.randint(low, high)
    with open(os.path.join(folder, "file%06d.dat" % i), "wb") as f:
        f.write(blob[:size])
EOF
}

for c in $CASES; do
  case "$c" in
    big)      head -c $((1 << 30)) /dev/urandom > big.bin ;;
    small20k) make_tree small20k 20000 1024 16384 ;;
    small40k) make_tree small40k 40000 1024 16384 ;;
    tiny100k) make_tree tiny100k 100000 1 64 ;;
  esac
done

target() { [[ "$1" == big ]] && echo big.bin || echo "$1"; }

# ---- timing --------------------------------------------------------------------------------
run_tool() {  # run_tool TOOL CASE -> appends "wall cpu" to $WORK/times.TOOL.CASE
  local tool="$1" c="$2" src
  src="$(target "$c")"
  rm -f out.zip out.tar
  local cmd
  case "$tool" in
    korvo) cmd=("$KORVO" "${KORVO_ARGS[@]}" out.zip "$src") ;;
    zip)   cmd=(zip -0 -r -q out.zip "$src") ;;
    7z)    cmd=(7z a -tzip -mx=0 -bso0 -bsp0 out.zip "$src") ;;
    tar)   cmd=(tar cf out.tar "$src") ;;
  esac
  /usr/bin/time -f "%e %U %S" -o time.txt "${cmd[@]}" >/dev/null
  awk '{ printf "%s %.2f\n", $1, $2 + $3 }' time.txt >> "times.$tool.$c"
  rm -f out.zip out.tar
}

for c in $CASES; do
  tools="korvo zip 7z"
  [[ "$c" == tiny100k ]] && tools="korvo zip 7z tar"
  cat "$(target "$c")" >/dev/null 2>&1 || find "$c" -type f -exec cat {} + >/dev/null
  for tool in $tools; do run_tool "$tool" "$c"; rm -f "times.$tool.$c"; done  # warm-up, discarded
  for ((r = 0; r < RUNS; r++)); do
    for tool in $tools; do run_tool "$tool" "$c"; done   # interleaved, so load swings hit all alike
  done
done

# ---- report --------------------------------------------------------------------------------
python3 - "$CASES" "$RUNS" "$KORVO" <<'EOF'
import glob, statistics, sys
cases, runs, korvo = sys.argv[1].split(), sys.argv[2], sys.argv[3]
def load(tool, case):
    try:
        rows = [line.split() for line in open("times.%s.%s" % (tool, case))]
    except FileNotFoundError:
        return None
    return statistics.median(float(r[0]) for r in rows), statistics.median(float(r[1]) for r in rows)
print("bundling, median of %s runs (wall seconds and CPU user+system seconds); korvo = %s" % (runs, korvo))
print("%-9s %-6s %8s %8s   %s" % ("case", "tool", "wall", "cpu", "korvo / tool (wall, cpu)"))
for case in cases:
    k = load("korvo", case)
    for tool in ("korvo", "zip", "7z", "tar"):
        t = load(tool, case)
        if t is None:
            continue
        ratio = "" if tool == "korvo" else "%.2fx, %.2fx" % (k[0] / t[0], k[1] / t[1] if t[1] else float("nan"))
        print("%-9s %-6s %8.3f %8.3f   %s" % (case, tool, t[0], t[1], ratio))
a, b = load("korvo", "small20k"), load("korvo", "small40k")
if a and b:
    print("growth: korvo 40,000 files / 20,000 files = %.2f (wall), %.2f (cpu); linear is 2.0" % (b[0] / a[0], b[1] / a[1]))
EOF
