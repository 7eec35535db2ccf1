#!/usr/bin/env bash
# Installs every Debian 12 package Kelso needs to build, run and test.
# Idempotent: asks dpkg which packages are already there and only runs apt-get
# (with a single `apt-get update` first) for the ones that are missing.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config ccache clang libclang-rt-14-dev
  # the format check (scripts/check-format.sh)
  clang-format
  # Qt 6: Widgets, DBus, Concurrent, Test (qt6-base-dev), Svg, Pdf, image plugins, xcb platform
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-pdf-dev qt6-image-formats-plugins
  qt6-qpa-plugins libqt6svg6 qt6-l10n-tools
  # platform layers
  libplist-dev libsqlite3-dev libglib2.0-dev
  libxcb1-dev libxcb-xfixes0-dev libxcb-xinput-dev libxcb-keysyms1-dev
  libxkbcommon-dev libxkbcommon-x11-dev libxcb-xkb-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev python3
  # end-to-end tests: display, window manager, compositor, tray, input, screenshots
  xvfb openbox trayer xcompmgr xdotool x11-utils x11-apps dbus-x11 imagemagick
  # end-to-end tests that read the window as a screen reader does (AT-SPI)
  at-spi2-core python3-gi gir1.2-atspi-2.0
  # the main-window benchmark traces the main thread's system calls
  strace
  # file tools the tests compare against
  attr desktop-file-utils inotify-tools
  # icons and thumbnailers
  adwaita-icon-theme hicolor-icon-theme ffmpegthumbnailer shared-mime-info
  # test videos (ffmpeg) and the thumbnailers the thumbnail benchmark compares against
  ffmpeg libvips-tools libgdk-pixbuf2.0-bin
  # the metadata-index benchmark compares against plocate and its updatedb
  plocate
  # release: the Debian package (dpkg-shlibdeps, file), checks of the installed files
  dpkg-dev file appstream groff-base bash-completion
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
