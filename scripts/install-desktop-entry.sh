#!/usr/bin/env bash
# Installs Kelso's desktop entry and icon for the current user, pointing at the given binary,
# so that "Open With Kelso" and application launchers find it.
set -euo pipefail
binary=$(realpath "${1:?usage: install-desktop-entry.sh PATH-TO-kelso}")
root=$(cd "$(dirname "$0")/.." && pwd)
data=${XDG_DATA_HOME:-$HOME/.local/share}
mkdir -p "$data/applications" "$data/icons/hicolor/scalable/apps"
cp "$root/resources/icons/kelso.svg" "$data/icons/hicolor/scalable/apps/kelso.svg"
sed "s|^Exec=kelso |Exec=\"$binary\" |" "$root/resources/kelso.desktop" > "$data/applications/kelso.desktop"
if command -v update-desktop-database >/dev/null; then
  update-desktop-database "$data/applications" >/dev/null 2>&1 || true
fi
echo "install-desktop-entry: $data/applications/kelso.desktop -> $binary"
