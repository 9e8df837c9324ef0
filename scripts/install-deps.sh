#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and demos with.
# Only missing packages are installed; `apt-get update` runs only when something is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang make clang-format pkg-config dpkg-dev python3-clang-14 openssl
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-multimedia-dev qt6-websockets-dev qt6-tools-dev qt6-l10n-tools
  libqt6sql6-sqlite libqt6opengl6-dev
  qml6-module-qtqml qml6-module-qtqml-models qml6-module-qtqml-workerscript
  qml6-module-qtquick qml6-module-qtquick-window qml6-module-qtquick-controls
  qml6-module-qtquick-templates qml6-module-qtquick-layouts qml6-module-qttest
  qml6-module-qtquick-dialogs qml6-module-qt-labs-folderlistmodel
  libprotobuf-dev protobuf-compiler libssl-dev libtag1-dev libsqlite3-dev
  ffmpeg unicode-data fonts-noto-color-emoji gdb
  xvfb xauth pulseaudio pulseaudio-utils qt6-base-private-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-pulseaudio
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
[[ $(id -u) -eq 0 ]] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
