#!/usr/bin/env bash
# Puts small faults into the code one at a time and checks that the suites covering each one
# fail. The faults are listed in scripts/mutants.list, one a line, fields separated by tabs:
#
#   area  file  text  replacement  suites
#
# `text` must occur exactly once in `file`; "\n" and "\t" in text and replacement stand for a
# line break and a tab. `suites` is a space-separated list of
#   ctest:REGEX           CTest tests (built first: only the targets they need)
#   ctest:REGEX@FILTER    the same, with GTEST_FILTER=FILTER
#   node:bridge/test/x.test.mjs   one node:test file of bridge/ or service/
# A mutant is killed when any suite fails. The file is restored after every mutant, also when
# the run is interrupted, and the build is brought back in line with the tree at the end.
#
#   scripts/mutants.sh [--area REGEX] [--skip-area REGEX] [--build DIR] [--timeout SECONDS] [--list FILE]
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
list="$root/scripts/mutants.list"
build="$root/build"
area_filter='.'
skip_filter='^$'
limit=300
while [ $# -gt 0 ]; do
  case "$1" in
    --area) area_filter=$2; shift 2 ;;
    --skip-area) skip_filter=$2; shift 2 ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    --list) list=$2; shift 2 ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "Unknown option: $1 (see --help)." >&2; exit 2 ;;
  esac
done
[ -f "$build/CTestTestfile.cmake" ] || { echo "No configured build in $build." >&2; exit 2; }

work=$(mktemp -d /tmp/korvo-mutants.XXXXXX)
current=""   # the file under mutation, backed up as $work/original
touched_targets=()

restore() {
  if [ -n "$current" ]; then
    # The content comes back byte for byte; the new modification time makes the build notice.
    cat "$work/original" > "$root/$current"
    current=""
  fi
}
finish() {
  restore
  if [ ${#touched_targets[@]} -gt 0 ]; then
    cmake --build "$build" -j2 --target $(printf '%s\n' "${touched_targets[@]}" | sort -u) >/dev/null 2>&1 \
      || echo "warning: rebuilding the restored tree failed" >&2
  fi
  rm -rf "$work"
}
trap finish EXIT
trap 'echo "interrupted" >&2; exit 130' INT TERM

# Replaces the one occurrence of $2 by $3 in file $1 (both with \n and \t escapes).
apply() {
  python3 - "$@" <<'EOF'
import sys
path, text, repl = sys.argv[1], sys.argv[2], sys.argv[3]
unescape = lambda s: s.replace('\\n', '\n').replace('\\t', '\t')
text, repl = unescape(text), unescape(repl)
with open(path, encoding='utf-8') as f:
    content = f.read()
count = content.count(text)
if count != 1:
    print(f"text occurs {count} times in {path}, not once", file=sys.stderr)
    sys.exit(3)
with open(path, 'w', encoding='utf-8') as f:
    f.write(content.replace(text, repl))
EOF
}

# The build targets behind the CTest tests a regex selects.
all_targets=$(cmake --build "$build" --target help 2>/dev/null | sed -n 's/^\([A-Za-z0-9_.-]*\): .*/\1/p')
targets_for() {
  local name
  for name in $(cd "$build" && ctest -N -R "$1" | sed -n 's/^ *Test *#[0-9]*: //p'); do
    case "$name" in
      e2e.cli|e2e.cli_account|faults.injection) echo korvo-cli ;;
      node.*) ;;
      *) local target=${name/./_}
         if grep -qx "$target" <<<"$all_targets"; then echo "$target"; fi ;;
    esac
  done
}

run_suite() {   # prints nothing; returns 0 when the suite passed
  local suite=$1
  case "$suite" in
    ctest:*)
      local spec=${suite#ctest:} regex filter=""
      regex=${spec%%@*}
      [ "$spec" != "$regex" ] && filter=${spec#*@}
      (cd "$build" && GTEST_FILTER=${filter:-*} timeout "$limit" "$root/scripts/headless-session.sh" \
        ctest -R "$regex" --timeout "$limit" --stop-on-failure) >"$work/log" 2>&1
      ;;
    node:*)
      local file=${suite#node:}
      (cd "$root/${file%%/*}" && timeout "$limit" node --test --test-concurrency=1 "${file#*/}") >"$work/log" 2>&1
      ;;
    *) echo "unknown suite $suite" >&2; return 0 ;;
  esac
}

declare -A total killed survived failed
areas=()
number=0
selected=$(grep -v '^#' "$list" | grep -v '^[[:space:]]*$' | awk -F'\t' -v OFS=$'\x1f' -v a="$area_filter" -v s="$skip_filter" '$1 ~ a && $1 !~ s { $1 = $1; print }')
count=$(printf '%s\n' "$selected" | grep -c . || true)
started=$SECONDS
# Fields are rejoined with a unit separator so that an empty replacement keeps its place.
while IFS=$'\x1f' read -r area file text replacement suites; do
  [ -n "$area" ] || continue
  number=$((number + 1))
  [ -n "${total[$area]:-}" ] || { areas+=("$area"); total[$area]=0; killed[$area]=0; survived[$area]=0; failed[$area]=0; }
  total[$area]=$((total[$area] + 1))
  label="[$number/$count] $area $file: $text"
  cp "$root/$file" "$work/original"
  current=$file
  if ! apply "$root/$file" "$text" "$replacement"; then
    restore
    echo "$label -> refused (the text must occur exactly once)"
    exit 2
  fi
  outcome=survived
  by=""
  targets=()
  for suite in $suites; do
    case "$suite" in ctest:*) spec=${suite#ctest:}; targets+=($(targets_for "${spec%%@*}")) ;; esac
  done
  if [ ${#targets[@]} -gt 0 ]; then
    touched_targets+=("${targets[@]}")
    if ! cmake --build "$build" -j2 --target $(printf '%s\n' "${targets[@]}" | sort -u) >"$work/build.log" 2>&1; then
      outcome=build-failed
    fi
  fi
  if [ "$outcome" = survived ]; then
    for suite in $suites; do
      if ! run_suite "$suite"; then outcome=killed; by=$suite; break; fi
    done
  fi
  restore
  case "$outcome" in
    killed) killed[$area]=$((killed[$area] + 1)) ;;
    survived) survived[$area]=$((survived[$area] + 1)) ;;
    build-failed) failed[$area]=$((failed[$area] + 1)) ;;
  esac
  echo "$label -> $outcome${by:+ by $by}"
done <<<"$selected"

echo
printf '%-10s %7s %7s %9s %13s\n' area mutants killed survived build-failed
for area in "${areas[@]}"; do
  printf '%-10s %7d %7d %9d %13d\n' "$area" "${total[$area]}" "${killed[$area]}" "${survived[$area]}" "${failed[$area]}"
done
echo "($((SECONDS - started)) s)"
