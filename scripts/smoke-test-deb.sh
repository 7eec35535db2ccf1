#!/usr/bin/env bash
# Installs Kelso's Debian package on this machine, starts the installed kelso the way a desktop
# would (`kelso show` with nothing running: the session bus starts it from its service file) on a
# virtual display, quits it with `kelso quit`, then removes the package and every package its
# installation pulled in, so that the machine is left as it was.
#
#   scripts/smoke-test-deb.sh [PATH/kelso_VERSION_ARCH.deb]    (as root, or with sudo)
#
# A picture of the screen with the started window is kept beside the package (smoke-test.png).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deb=${1:-$(ls -t "$root"/build/package/kelso_*.deb 2>/dev/null | head -n 1)}
[ -f "$deb" ] || { echo "smoke-test-deb: no package; run 'make deb' first" >&2; exit 2; }
deb=$(realpath "$deb")
shot="$(dirname "$deb")/smoke-test.png"
rm -f "$shot"

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "smoke-test-deb: needs root or sudo" >&2; exit 2; }
  sudo="sudo"
fi
if dpkg-query -W -f='${db:Status-Status}' kelso 2>/dev/null | grep -qx installed; then
  echo "smoke-test-deb: a kelso package is already installed; remove it first" >&2
  exit 2
fi

export DEBIAN_FRONTEND=noninteractive
before=$(mktemp)
dpkg-query -W -f='${db:Status-Status} ${Package}:${Architecture}\n' | awk '$1 == "installed" {print $2}' |
  sort > "$before"
home=$(mktemp -d /tmp/kelso-smoke-XXXXXX)
log="$home/kelso.log"

cleanup() {
  local status=$?
  $sudo dpkg --purge kelso >/dev/null 2>&1 || true
  local added
  added=$(comm -13 "$before" <(dpkg-query -W -f='${db:Status-Status} ${Package}:${Architecture}\n' |
    awk '$1 == "installed" {print $2}' | sort))
  if [ -n "$added" ]; then
    echo "smoke-test-deb: removing what the package pulled in: $added"
    # shellcheck disable=SC2086
    $sudo apt-get purge -y -qq $added >/dev/null
  fi
  rm -f "$before"
  rm -rf "$home"
  exit $status
}
trap cleanup EXIT

echo "smoke-test-deb: installing $(basename "$deb")"
if ! $sudo dpkg -i "$deb"; then
  echo "smoke-test-deb: installing the missing dependencies"
  $sudo apt-get install -f -y -qq
fi
dpkg-query -W -f='${db:Status-Status}\n' kelso | grep -qx installed

# The installed files are valid where the desktop reads them.
desktop-file-validate /usr/share/applications/kelso.desktop
appstreamcli validate --no-net /usr/share/metainfo/com.tallow.kelso.metainfo.xml
grep -qx 'Exec=/usr/bin/kelso' /usr/share/dbus-1/services/com.tallow.kelso.service
for f in /usr/bin/kelso /usr/lib/kelso/libkelso_apps.so /usr/lib/kelso/libkelso_pdf.so \
  /usr/share/icons/hicolor/scalable/apps/kelso.svg /usr/share/man/man1/kelso.1 \
  /usr/share/bash-completion/completions/kelso; do
  [ -f "$f" ] || { echo "smoke-test-deb: $f is not installed" >&2; exit 1; }
done

# A fresh user: home, display and session bus of its own.
mkdir -p "$home/run" && chmod 700 "$home/run"
if ! env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home/run" LANG=C.UTF-8 QT_QPA_PLATFORM=xcb SHOT="$shot" \
  xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" dbus-run-session -- bash -c '
set -euo pipefail
# Kelso processes of this home only (other Kelsos may run on this machine).
ours() {
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/exe" 2>/dev/null)" = /usr/bin/kelso ] || continue
    tr "\0" "\n" < "$p/environ" 2>/dev/null | grep -qx "HOME=$HOME" && basename "$p"
  done
  return 0
}
wait_until() { # SECONDS COMMAND...
  local until=$((SECONDS + $1)); shift
  while ! "$@"; do [ $SECONDS -lt $until ] || return 1; sleep 0.2; done
}
running() { [ -n "$(ours)" ]; }
stopped() { [ -z "$(ours)" ]; }
window() { xdotool search --onlyvisible --name "^Kelso\$" >/dev/null 2>&1; }

[ "$(command -v kelso)" = /usr/bin/kelso ]
stopped || { echo "smoke-test-deb: Kelso runs before it was started" >&2; exit 1; }
echo "smoke-test-deb: kelso show (Kelso not running)"
kelso show
wait_until 20 running || { echo "smoke-test-deb: kelso show did not start Kelso" >&2; exit 1; }
if wait_until 20 window; then
  echo "smoke-test-deb: Kelso runs (pid $(ours)) and shows its window"
  sleep 1
  import -window root "$SHOT" 2>/dev/null || true
else
  echo "smoke-test-deb: the window did not appear" >&2; exit 1
fi
echo "smoke-test-deb: kelso quit"
kelso quit
wait_until 20 stopped || { echo "smoke-test-deb: Kelso still runs after kelso quit" >&2; exit 1; }
echo "smoke-test-deb: Kelso quit"
' 2>&1 | tee "$log"; then
  echo "smoke-test-deb: FAILED" >&2
  exit 1
fi
echo "smoke-test-deb: PASS"
