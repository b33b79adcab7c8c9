#!/usr/bin/env bash
# Two korvo-cli builds side by side: median wall time of lock and open of one file, the builds
# taking turns within each round, with the page cache's dirty data written out (untimed) before
# every step so that neither pays for the other's write-back. For changes such as the flush
# before the rename: build once with and once without, then compare.
#   bench/ab_lock.sh KORVO_CLI_A KORVO_CLI_B [ROUNDS] [SIZE_MIB]
#   defaults: 7 rounds, 1024 MiB; data in /tmp, removed after.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
a=$(realpath "$1")
b=$(realpath "$2")
rounds=${3:-7}
size_mib=${4:-1024}
if [ -z "${KORVO_IN_SESSION:-}" ]; then
  exec "$here/../scripts/headless-session.sh" "$0" "$a" "$b" "$rounds" "$size_mib"
fi
work=$(mktemp -d /tmp/korvo-ab-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c $((size_mib << 20)) /dev/urandom > plain
# A virtual machine may get its memory from the host only when first used, which makes the
# first step to need fresh page cache pay seconds for it. Touch what the run uses, once, up front.
head -c $(((3 * size_mib) << 20)) /dev/zero > /dev/shm/korvo-bench-warm || true
rm -f /dev/shm/korvo-bench-warm
"$a" lock -q -o warm plain && rm -f warm   # creates the keychain key once

declare -A times
timed() {   # timed NAME COMMAND...: appends the wall time of one run
  local name=$1; shift
  sync
  local start end
  start=$(date +%s.%N); "$@"; end=$(date +%s.%N)
  times[$name]+="$(echo "$end - $start" | bc) "
}
median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Each step twice: as the command returns, and until its output has reached the device (the
# command, then the output flushed), which is what a build that does not flush still owes.
for ((round = 1; round <= rounds; round++)); do
  for side in a b; do
    cli=${!side}
    timed "lock_$side" "$cli" lock -q -f -o sealed plain
    timed "open_$side" "$cli" open -q -f -o opened sealed
    cmp -s plain opened || { echo "$side: opened file differs from the input" >&2; exit 1; }
    rm -f opened
    timed "lock+sync_$side" sh -c '"$0" lock -q -f -o sealed plain && sync sealed' "$cli"
    timed "open+sync_$side" sh -c '"$0" open -q -f -o opened sealed && sync opened' "$cli"
    rm -f sealed opened
  done
done

echo "A: $a"
echo "B: $b"
echo "${size_mib} MiB, median of ${rounds} rounds; load average $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
for step in lock open lock+sync open+sync; do
  ma=$(median <<<"${times[${step}_a]}")
  mb=$(median <<<"${times[${step}_b]}")
  awk -v s="$step" -v a="$ma" -v b="$mb" 'BEGIN { printf "  %-9s A %6.3f s   B %6.3f s   B/A %.3f\n", s, a, b, b / a }'
  echo "            A: ${times[${step}_a]}"
  echo "            B: ${times[${step}_b]}"
done
