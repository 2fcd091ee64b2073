#!/usr/bin/env bash
# From a clone to an installed Lumory in one command:
#   bash scripts/install.sh
# installs the Debian packages it needs, builds a Release in ./build-release,
# installs it (the program in <prefix>/Lumory, `lumory` in <prefix>/bin, the menu
# entry, icons and AppStream metainfo under <prefix>/share, the udev rule in
# /etc/udev/rules.d) and reloads the udev rules so a normal user can open the
# keyboard. As a normal user the system-wide steps run through sudo.
# PREFIX (default /usr/local), BUILD_DIR and JOBS may be set in the environment;
# the "Power Boot" start-at-log-in entry expects the default prefix.
set -euo pipefail
cd "$(dirname "$0")/.."

PREFIX="${PREFIX:-/usr/local}"
BUILD_DIR="${BUILD_DIR:-build-release}"
JOBS="${JOBS:-$(nproc)}"
if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi

bash scripts/install-deps.sh

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DLUMORY_BUILD_TESTS=OFF -DLUMORY_BUILD_BENCH=OFF
cmake --build "$BUILD_DIR" -j"$JOBS"
$SUDO cmake --install "$BUILD_DIR" --prefix "$PREFIX"

# Let the menu and the icon theme see the new entry at once (both optional).
if command -v update-desktop-database >/dev/null 2>&1; then
    $SUDO update-desktop-database -q "$PREFIX/share/applications" || true
fi
if command -v gtk-update-icon-cache >/dev/null 2>&1 && [ -f "$PREFIX/share/icons/hicolor/index.theme" ]; then
    $SUDO gtk-update-icon-cache -q "$PREFIX/share/icons/hicolor" || true
fi

# The udev rule takes effect once udev reloads it; a container usually runs no
# udev (no control socket), and then there is nothing to reload.
udev_active=no
if command -v udevadm >/dev/null 2>&1 && [ -S /run/udev/control ]; then
    if $SUDO udevadm control --reload-rules &&
        $SUDO udevadm trigger --subsystem-match=usb --subsystem-match=hidraw; then
        udev_active=yes
    else
        echo "install.sh: udev did not reload its rules; run as root:" >&2
        echo "  udevadm control --reload-rules && udevadm trigger" >&2
    fi
else
    echo "install.sh: udev is not running here; the rule applies from the next boot" \
        "(or after: udevadm control --reload-rules && udevadm trigger)." >&2
fi

echo
echo "Lumory is installed in $PREFIX: start it with 'lumory' or from the applications menu."
if [ "$udev_active" = yes ]; then
    echo "The udev rule is active: plug the keyboard in again to open it as a normal user."
fi
