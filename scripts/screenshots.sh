#!/usr/bin/env bash
# Launches the built application under a headless X server and captures its screens into
# shots/*.png: fixed start states first, then a real account on a reference service started
# here (sign-up, the signed-in window, the recipient marks, sign-in, recovery, the deletion
# sheet), driven with the keyboard as a person would.
#   scripts/screenshots.sh                  the newest build folder's korvo
#   KORVO_BUILD_DIR=build-ui scripts/screenshots.sh
#   scripts/screenshots.sh path/to/korvo
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVO_BUILD_DIR:+$(cd "$root" && cd "$KORVO_BUILD_DIR" && pwd)}
app=${1:-${build:+$build/src/app/korvo}}
app=${app:-$(ls -t "$root"/build*/src/app/korvo 2>/dev/null | head -n1 || true)}
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
work=$(mktemp -d)
pid="" service=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  [ -n "$service" ] && kill "$service" 2>/dev/null && wait "$service" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/Holiday photos"
for f in beach.jpg "tax return 2024.pdf" notes.txt contract.docx; do echo sample > "$work/$f"; done
selection="$work/beach.jpg:$work/tax return 2024.pdf:$work/Holiday photos/:$work/notes.txt:$work/contract.docx"

window=""
# launch WIDTH [VAR=VALUE ...]: start the app with the variables and size its main window to
# WIDTH x 760 at the top-left corner, with the keyboard on it.
launch() {
  local width=$1 attempt
  shift
  window=""
  # A busy X server now and then refuses a connection: start again when the app died early.
  for attempt in 1 2 3; do
    # From the scratch folder: save panels suggest the current folder.
    env -C "$work" "$@" "$app" >>"$out/app.log" 2>&1 &
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
    xdotool windowsize "$window" "$width" 760 windowmove "$window" 0 0 windowfocus --sync "$window" || true
  fi
  # Keep the pointer off the window so no control is captured in its hover state.
  xdotool mousemove 1279 799 || true
  sleep 2
}
# capture NAME: the settings window when one is open, else the main window.
capture() {
  local settings
  settings=$(xdotool search --onlyvisible --name '^Korvo Settings$' 2>/dev/null | head -n1 || true)
  if [ -n "$settings" ]; then
    import -window "$settings" "$out/$1.png"
  elif [ -n "$window" ]; then
    import -window "$window" "$out/$1.png"
  else
    import -window root "$out/$1.png"
  fi
  echo "shots/$1.png"
}
stop() {
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=""
}
shot() {
  local name=$1 width=$2
  shift 2
  launch "$width" "$@"
  capture "$name"
  stop
}
keys() { xdotool key --clearmodifiers --delay 60 "$@"; sleep 0.3; }
# Without a window manager the keyboard stays with a closed dialog: give it back to the window.
refocus() { xdotool windowfocus --sync "$window"; sleep 0.3; }
typed() { xdotool type --delay 25 "$1"; sleep 0.2; }
# settle SECONDS: give a running account operation time to finish.
settle() { sleep "$1"; }

# ---- Fixed start states ----
shot local-regular 1240 KORVO_START_ROUTE=local "KORVO_START_SELECTION=$selection"
shot local-compact 1100 KORVO_START_ROUTE=local "KORVO_START_SELECTION=$selection"
shot local-empty 1240 KORVO_START_ROUTE=local
shot main-regular 1240 KORVO_START_ROUTE=main "KORVO_START_SELECTION=$selection"
shot main-compact 1100 KORVO_START_ROUTE=main "KORVO_START_SELECTION=$selection"
shot main-recipient 1240 KORVO_START_ROUTE=main KORVO_START_TARGET=recipient
shot main-recipient-compact 1100 KORVO_START_ROUTE=main KORVO_START_TARGET=recipient
shot login 1240 KORVO_START_ROUTE=login
shot settings-local 1240 KORVO_START_ROUTE=local KORVO_OPEN_SETTINGS=1

# Keyboard: the focus ring after two Tabs on the sign-in screen.
launch 1240 KORVO_START_ROUTE=login
keys Tab Tab
capture login-focus-ring
stop

# ---- A real account on the reference service ----
export KORVO_TRUSTED_CA="$work/trusted-ca.pem"
node "$root/service/halvane.mjs" --port 3010 --data "$work/service" >"$out/service.log" 2>&1 &
service=$!
for _ in $(seq 1 100); do grep -q "listening on" "$out/service.log" && break; sleep 0.1; done
# The application knows only the built-in address: without the service there, stop here.
grep -q "listening on" "$out/service.log" || { cat "$out/service.log" >&2; exit 1; }
email="robin.hale@example.com" password="Harbour-light7"
code() { node "$root/service/halvane.mjs" latest-mail --code --to "$email" --data "$work/service"; }

# Sign-up: the form filled in, then the code screen, then the signed-in window.
launch 1240 KORVO_START_ROUTE=createAccount
keys Tab; typed "$email"; keys Tab; typed "$password"; keys Tab; typed "$password"
capture create-account
keys Return; settle 4
capture verify-otp
keys Tab; typed "$(code)"; keys Return; settle 8
# Lock a file for real usage figures: Ctrl+O, the path, then Tab to "Lock & Save" (Lock, Open,
# Me, Someone else, Choose, Lock & Save) and accept the suggested name.
keys ctrl+o; sleep 1.5; typed "$work/tax return 2024.pdf"; keys Return; sleep 1; refocus
keys Tab Tab Tab Tab Tab Tab space; sleep 1.5; keys Return; settle 8; refocus
capture main-signed-in
stop

# The next launch remembers the account: a wrong password shows the error alert; the right
# one shows the busy overlay on the way in.
launch 1240
capture login-remembered
keys Tab Tab; typed "not-the-password"; keys Return; settle 4
capture error-alert
keys Return; keys ctrl+a; typed "$password"; keys Return; sleep 0.4
capture busy-signin
settle 8
# The deletion sheet from the sidebar (the last control in the Tab order): both steps.
keys shift+Tab space; sleep 0.6
keys Tab; typed "$password"; keys Tab space
capture delete-account-password
keys Return; settle 5
capture delete-account-code
keys Escape
stop

shot settings-account 1240 KORVO_OPEN_SETTINGS=1

# The recipient number and its mark, after signing in: Tab to "Someone else" (Lock, Open, Me,
# Someone else), then the number field.
launch 1240
keys Tab Tab; typed "$password"; keys Return; settle 8
keys Tab Tab Tab Tab space; keys Tab
capture recipient-idle
typed "1"; sleep 0.1
capture recipient-checking
settle 3
capture recipient-ready
keys ctrl+a; typed "999999"; settle 3
capture recipient-unavailable
stop

# Recovery: from the remembered sign-in screen, "Forgot password" is the fourth Tab stop.
launch 1240
keys Tab Tab Tab Tab space; sleep 0.6
keys Tab; typed "$email"
capture forgot-password
keys Return; settle 4
keys Tab; typed "$(code)"; keys Tab; typed "$password"; keys Tab; typed "$password"
capture reset-password
stop
