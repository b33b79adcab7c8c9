#!/usr/bin/env bash
# Starts the reference service on the application's built-in address with a fresh data folder,
# then runs the account screens' end-to-end test against it.
#   tests/qml/e2e/run.sh QML_VIEWS_PROGRAM TEST_FILE SOURCE_DIR
set -euo pipefail
runner=$1 test=$2 source=$3
data=$(mktemp -d /tmp/korvo-e2e.XXXXXX)
pid=""
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; rm -rf "$data"; }
trap cleanup EXIT
export KORVO_TRUSTED_CA="$data/trusted-ca.pem" KORVO_TEST_OUTBOX="$data/service/outbox"
touch "$data/service.log"
node "$source/service/halvane.mjs" --port 3010 --data "$data/service" >"$data/service.log" 2>&1 &
pid=$!
for _ in $(seq 1 100); do
  grep -q "listening on" "$data/service.log" && break
  kill -0 "$pid" 2>/dev/null || { cat "$data/service.log" >&2; pid=""; exit 1; }
  sleep 0.1
done
"$runner" -input "$test"
