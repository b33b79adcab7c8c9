#!/usr/bin/env bash
# Configures (once) and builds Korvo into build/ with Ninja, and installs the node packages
# of the bridge and the reference service from their lockfiles.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVO_BUILD_DIR:-$root/build}
. "$root/scripts/node-env.sh"
for js in bridge service; do
  if [ -f "$root/$js/package-lock.json" ] && { [ ! -d "$root/$js/node_modules" ] || [ "$root/$js/package-lock.json" -nt "$root/$js/node_modules/.package-lock.json" ]; }; then
    # Native modules compile here against node's installed headers, offline.
    korvo_node_env
    (cd "$root/$js" && npm ci --no-audit --no-fund --loglevel=error)
  fi
done
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
fi
cmake --build "$build" -j "$(nproc)"
