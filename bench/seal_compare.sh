#!/usr/bin/env bash
# Side-by-side figures for korvo-cli lock and open against cp and age, and the peak memory of
# locking a large file. lock and open flush their output to the device before it replaces the
# earlier file; cp does not, so "cp_sync" (cp, then the copy flushed) is shown beside it.
# Runs itself inside the headless session so the keychain key is there.
#   bench/seal_compare.sh [KORVO_CLI] [ROUNDS] [SIZE_MIB] [LARGE_MIB]
#   defaults: build/src/cli/korvo-cli, 5 rounds, 1024 MiB, 4096 MiB; data in /tmp, removed after.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:-$here/../build/src/cli/korvo-cli}")
rounds=${2:-5}
size_mib=${3:-1024}
large_mib=${4:-4096}
if [ -z "${KORVO_IN_SESSION:-}" ]; then
  exec "$here/../scripts/headless-session.sh" "$0" "$cli" "$rounds" "$size_mib" "$large_mib"
fi
for tool in age age-keygen /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (Debian packages age, time)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/korvo-seal-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c $((size_mib << 20)) /dev/urandom > plain
# A virtual machine may get its memory from the host only when first used, which makes the
# first step to need fresh page cache pay seconds for it. Touch what the run uses, once, up front.
head -c $(((4 * size_mib) << 20)) /dev/zero > /dev/shm/korvo-bench-warm || true
rm -f /dev/shm/korvo-bench-warm
age-keygen -o age.key 2>/dev/null
recipient=$(age-keygen -y age.key)
"$cli" lock -f -o warm.korvolocal plain >/dev/null   # creates the keychain key once
rm -f warm.korvolocal

# measure NAME STEP... : appends the wall time and the CPU time (user + system) of one run
declare -A wall cpu
measure() {
  local name=$1; shift
  /usr/bin/time -f '%e %U %S' -o time.txt "$@" >/dev/null
  wall[$name]+="$(awk '{ print $1 }' time.txt) "
  cpu[$name]+="$(awk '{ printf "%.2f", $2 + $3 }' time.txt) "
}
median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Each output is removed as soon as it is no longer needed: gigabytes of unwritten data left
# lying around would start the kernel's write-back and slow down whichever step runs next.
for ((round = 1; round <= rounds; round++)); do
  measure cp cp plain copy
  rm -f copy
  measure cp_sync sh -c 'cp plain copy && sync copy'   # a copy that has reached the device, as lock and open's outputs have
  rm -f copy
  measure lock "$cli" lock -o sealed plain
  measure open "$cli" open -o opened sealed
  cmp -s plain opened || { echo "opened file differs from the input" >&2; exit 1; }
  rm -f sealed opened
  measure age_seal age -r "$recipient" -o sealed.age plain
  measure age_open age -d -i age.key -o opened.age sealed.age
  rm -f sealed.age opened.age
done

declare -A w c
for step in cp cp_sync lock open age_seal age_open; do
  w[$step]=$(median <<<"${wall[$step]}")
  c[$step]=$(median <<<"${cpu[$step]}")
done

echo "korvo-cli vs cp and age, ${size_mib} MiB, median of ${rounds} rounds (warm page cache)"
echo "  load average $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores (other work skews wall times)"
printf '  %-8s %7s %7s\n' "" "wall s" "cpu s"
for step in cp cp_sync age_seal age_open lock open; do
  printf '  %-8s %7s %7s\n' "$step" "${w[$step]}" "${c[$step]}"
done
awk -v l="${w[lock]}" -v o="${w[open]}" -v cp="${w[cp]}" -v cs="${w[cp_sync]}" -v as="${w[age_seal]}" -v ao="${w[age_open]}" \
    -v lc="${c[lock]}" -v oc="${c[open]}" -v cpc="${c[cp]}" -v asc="${c[age_seal]}" -v aoc="${c[age_open]}" '
  BEGIN {
    printf "  wall: lock %.2fx cp, open %.2fx cp; age is %.2fx slower sealing, %.2fx slower opening\n", l / cp, o / cp, as / l, ao / o
    printf "  wall: lock %.2fx cp_sync, open %.2fx cp_sync (both flush their output to the device)\n", l / cs, o / cs
    printf "  cpu:  lock %.2fx cp, open %.2fx cp; age uses %.2fx more sealing, %.2fx more opening\n", lc / cpc, oc / cpc, asc / lc, aoc / oc
  }'

echo "peak memory locking ${large_mib} MiB"
head -c $((large_mib << 20)) /dev/zero > large
/usr/bin/time -f '%M' -o rss.txt "$cli" lock -o large.korvolocal large >/dev/null
rm -f large large.korvolocal
awk '{ printf "  lock     max RSS %6.1f MiB (limit 32 MiB)\n", $1 / 1024 }' rss.txt
