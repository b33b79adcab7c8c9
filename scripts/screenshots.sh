#!/usr/bin/env bash
# Launches the built application in fixed start states under a headless X server and captures
# each screen into shots/*.png.
#   scripts/screenshots.sh [path/to/korvo]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
app=${1:-$(ls -t "$root"/build*/src/app/korvo 2>/dev/null | head -n1 || true)}
if [ -z "$app" ] || [ ! -x "$app" ]; then
  echo "The application was not found; build the korvo target first." >&2
  exit 1
fi
if [ -z "${KORVO_IN_SESSION:-}" ]; then
  exec "$root/scripts/headless-session.sh" "$0" "$app"
fi
command -v xdotool >/dev/null || { echo "xdotool is required (scripts/install-deps.sh)." >&2; exit 1; }

out="$root/shots"
mkdir -p "$out"
samples=$(mktemp -d)
trap 'rm -rf "$samples"' EXIT
mkdir -p "$samples/Holiday photos"
for f in beach.jpg "tax return 2024.pdf" notes.txt contract.docx; do echo sample > "$samples/$f"; done
selection="$samples/beach.jpg:$samples/tax return 2024.pdf:$samples/Holiday photos/:$samples/notes.txt:$samples/contract.docx"

# shot NAME WIDTH [VAR=VALUE ...]: start the app with the variables, size its main window to
# WIDTH x 760, capture the settings window when one is open, else the main window, stop the app.
shot() {
  local name=$1 width=$2
  shift 2
  local pid window="" attempt
  # A busy X server now and then refuses a connection: start again when the app died early.
  for attempt in 1 2 3; do
    env "$@" "$app" >"$out/$name.log" 2>&1 &
    pid=$!
    for _ in $(seq 1 50); do
      window=$(xdotool search --onlyvisible --name '^Korvo$' 2>/dev/null | head -n1 || true)
      [ -n "$window" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.2
    done
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null && break
    wait "$pid" 2>/dev/null || true
  done
  if [ -n "$window" ]; then
    xdotool windowsize "$window" "$width" 760 windowmove "$window" 0 0 || true
  fi
  # Keep the pointer off the window so no control is captured in its hover state.
  xdotool mousemove 1279 799 || true
  sleep 2.5
  local settings
  settings=$(xdotool search --onlyvisible --name '^Korvo Settings$' 2>/dev/null | head -n1 || true)
  if [ -n "$settings" ]; then
    import -window "$settings" "$out/$name.png"
  elif [ -n "$window" ]; then
    import -window "$window" "$out/$name.png"
  else
    import -window root "$out/$name.png"
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo "shots/$name.png"
}

shot local-regular 1240 KORVO_START_ROUTE=local "KORVO_START_SELECTION=$selection"
shot local-compact 1100 KORVO_START_ROUTE=local "KORVO_START_SELECTION=$selection"
shot local-empty 1240 KORVO_START_ROUTE=local
shot main-regular 1240 KORVO_START_ROUTE=main "KORVO_START_SELECTION=$selection"
shot main-compact 1100 KORVO_START_ROUTE=main "KORVO_START_SELECTION=$selection"
shot main-recipient 1240 KORVO_START_ROUTE=main KORVO_START_TARGET=recipient
shot main-recipient-compact 1100 KORVO_START_ROUTE=main KORVO_START_TARGET=recipient
shot login 1240 KORVO_START_ROUTE=login
shot busy 1240 KORVO_START_ROUTE=local "KORVO_START_BUSY=Locking file..."
shot error 1240 KORVO_START_ROUTE=local "KORVO_START_ERROR=The selected file could not be read."
shot settings-local 1240 KORVO_START_ROUTE=local KORVO_OPEN_SETTINGS=1
shot settings-account 1240 KORVO_START_ROUTE=main KORVO_OPEN_SETTINGS=1
