#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (C++, QML and node suites) inside a
# private headless session.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
# --sanitize: only the sanitizer run (engine, command-line tool and fuzz targets, build-sanitize/).
if [ "${1:-}" = "--sanitize" ]; then
  shift
  exec "$root/scripts/sanitize.sh" "$@"
fi
"$root/scripts/build.sh"
(cd "$root/build" && "$root/scripts/headless-session.sh" ctest --output-on-failure --timeout 900 "$@")
# Then the same engine suites under the sanitizers; a filtered run (arguments given) skips it.
if [ $# -eq 0 ]; then
  "$root/scripts/sanitize.sh"
fi
