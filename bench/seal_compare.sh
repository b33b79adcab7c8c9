#!/usr/bin/env bash
# Side-by-side figures for korvo-cli lock and open against cp and age, and the peak memory of
# locking a large file. Runs itself inside the headless session so the keychain key is there.
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
age-keygen -o age.key 2>/dev/null
recipient=$(age-keygen -y age.key)
"$cli" lock -f -o warm.korvolocal plain >/dev/null   # creates the keychain key once
rm -f warm.korvolocal

# seconds STEP... : wall time of one run, to the millisecond
seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  local end=$EPOCHREALTIME
  echo "$start $end" | awk '{ printf "%.3f\n", $2 - $1 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A times
for ((round = 1; round <= rounds; round++)); do
  rm -f copy sealed opened sealed.age opened.age
  times[cp]+="$(seconds cp plain copy) "
  times[lock]+="$(seconds "$cli" lock -o sealed plain) "
  times[open]+="$(seconds "$cli" open -o opened sealed) "
  times[age_seal]+="$(seconds age -r "$recipient" -o sealed.age plain) "
  times[age_open]+="$(seconds age -d -i age.key -o opened.age sealed.age) "
  cmp -s plain opened || { echo "opened file differs from the input" >&2; exit 1; }
done
rm -f copy sealed opened sealed.age opened.age

declare -A med
for step in cp lock open age_seal age_open; do
  med[$step]=$(tr ' ' '\n' <<<"${times[$step]}" | grep . | median)
done

echo "korvo-cli vs cp and age, ${size_mib} MiB, median of ${rounds} rounds (warm page cache)"
echo "  load average $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores (other work skews every figure)"
printf '  %-10s %8s s\n' cp "${med[cp]}" "age -r" "${med[age_seal]}" "age -d" "${med[age_open]}"
awk -v l="${med[lock]}" -v o="${med[open]}" -v c="${med[cp]}" -v as="${med[age_seal]}" -v ao="${med[age_open]}" '
  BEGIN {
    printf "  %-10s %8.3f s  %5.2fx cp   age seal / lock %5.2fx\n", "lock", l, l / c, as / l
    printf "  %-10s %8.3f s  %5.2fx cp   age open / open %5.2fx\n", "open", o, o / c, ao / o
  }'

echo "peak memory locking ${large_mib} MiB"
head -c $((large_mib << 20)) /dev/zero > large
/usr/bin/time -f '%M' -o rss.txt "$cli" lock -o large.korvolocal large >/dev/null
rm -f large large.korvolocal
awk '{ printf "  lock     max RSS %6.1f MiB (limit 32 MiB)\n", $1 / 1024 }' rss.txt
