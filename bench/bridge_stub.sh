#!/bin/sh
# A bridge stand-in without node's start-up cost, for bench_bridge_concurrency: reads the
# request, pauses FIXTURE_DELAY_MS milliseconds and answers with an empty success.
cat > /dev/null
sleep "$(awk "BEGIN { print ${FIXTURE_DELAY_MS:-50} / 1000 }")"
printf '{"ok":true,"result":{}}'
