#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (C++, QML and node suites) inside a
# private headless session.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
cd "$root/build"
"$root/scripts/headless-session.sh" ctest --output-on-failure --timeout 900 "$@"
