#!/usr/bin/env bash
# Installs what is missing, builds, and launches Korvo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
if [ -x "$root/build/src/app/korvo" ]; then
  exec "$root/build/src/app/korvo" "$@"
fi
exec "$root/build/src/cli/korvo-cli" "$@"
