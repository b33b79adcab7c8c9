#!/usr/bin/env bash
# Installs the Debian packages Korvo needs to build, run, test and benchmark (apt-get runs only
# when something is missing), then checks what apt cannot give a Debian 12 machine: node 20.19
# or later with its C headers (NodeSource's nodejs package carries both).
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # Qt 6 and QML modules
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
  qt6-qpa-plugins qml6-module-qtqml-workerscript
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtquick-shapes
  qml6-module-qt5compat-graphicaleffects qml6-module-qttest qml6-module-qtqml-models
  # libraries
  qcoro-qt6-dev libsecret-1-dev libssl-dev zlib1g-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev
  # fonts
  fonts-inter fonts-material-design-icons-iconfont
  # headless session for tests and screenshots
  dbus dbus-bin gnome-keyring libsecret-tools xvfb xauth imagemagick xdotool
  # the desktop end-to-end run finds controls through the accessibility tree
  python3-pyatspi at-spi2-core
  # independent readers and benchmark peers
  python3 zip unzip p7zip-full age time
  # the sanitizer build and the libFuzzer targets
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Node 20.19 or later with its own headers, and the compiler the native node modules need.
. "$(dirname "$0")/node-env.sh"
korvo_node_env
