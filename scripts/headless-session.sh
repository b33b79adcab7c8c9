#!/usr/bin/env bash
# Runs a command inside a private D-Bus session with an unlocked Secret Service
# (gnome-keyring), a temporary HOME and XDG_RUNTIME_DIR, and an X server (Xvfb).
# Nothing touches the calling user's keyring or data.
#   scripts/headless-session.sh COMMAND [ARGS...]
set -euo pipefail
if [ -z "${KORVO_IN_SESSION:-}" ]; then
  tmp=$(mktemp -d /tmp/korvo-session.XXXXXX)
  mkdir -p "$tmp/home" "$tmp/run"
  chmod 0700 "$tmp/run"
  trap 'rm -rf "$tmp"' EXIT
  export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run" KORVO_IN_SESSION=1
  export XDG_DATA_HOME="$tmp/home/.local/share" XDG_CONFIG_HOME="$tmp/home/.config" XDG_CACHE_HOME="$tmp/home/.cache"
  unset DBUS_SESSION_BUS_ADDRESS
  exec_status=0
  dbus-run-session -- xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@" || exec_status=$?
  exit $exec_status
fi
# Inside the session: unlock a fresh login keyring with an empty password.
echo "" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
exec "$@"
