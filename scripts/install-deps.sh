#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test Lumory.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends \
    build-essential cmake ninja-build ccache pkg-config clang-format \
    qtbase5-dev qtbase5-private-dev libqt5svg5-dev libqt5svg5 qtbase5-dev-tools \
    libhidapi-dev libhidapi-libusb0 libusb-1.0-0-dev libx11-dev zlib1g-dev \
    xvfb xauth xdotool x11-utils fonts-dejavu-core fonts-wqy-microhei \
    appstream desktop-file-utils qttranslations5-l10n
