#!/usr/bin/env bash
# Installs the Debian package with apt as a user would, starts the program by its menu entry's Exec line on a
# virtual X display with the source and build trees out of sight, runs a search, keeps the screenshots, and
# purges the package: nothing of it may be left, and the program may have written nothing in its home.
# Usage: package_install.sh DEB OUTPUT_DIR SOURCE_DIR BUILD_DIR. Exits 77 (skipped) without root or X tools,
# or when a murako package is installed already, which the test will not replace.
set -euo pipefail
deb=$(realpath "$1") out=$2 source_dir=$3 build_dir=$4
[ "$(id -u)" -eq 0 ] || { echo "skipped: installing a package needs root"; exit 77; }
for tool in apt-get flock dbus-run-session xvfb-run xdotool xprop import convert; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
package=$(dpkg-deb -f "$deb" Package)
# Another build tree's run of this test may be installing the package too.
exec 9>"/tmp/$package-package-test.lock"
flock 9
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
  echo "skipped: $package is installed on this machine, and the test leaves it alone"; exit 77
fi

work=$(mktemp -d)
purge() {
  apt-get purge -y -qq -o DPkg::Lock::Timeout=300 "$package" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap purge EXIT
export DEBIAN_FRONTEND=noninteractive
touch "$work/before"
apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=300 "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; exit 1; }
dpkg-query -L "$package" >"$work/files"
entry=$(grep -E '^/usr/share/applications/[^/]+\.desktop$' "$work/files")
program=$(command -v "$(sed -n 's/^Exec=//p' "$entry")") || { echo "$entry: Exec is not on PATH"; exit 1; }
wm_class=$(sed -n 's/^StartupWMClass=//p' "$entry")

# The scripts run from a copy, so that both trees can be hidden from the program.
cp "$(dirname "$0")/window_e2e.sh" "$(dirname "$0")/e2e_tree.sh" "$work/"
mkdir "$work/shots" "$work/home"
hidden() {
  if unshare --mount true 2>/dev/null; then
    unshare --mount --propagation private \
      bash -ec 'mount -t tmpfs none "$1"; mount -t tmpfs none "$2"; shift 2; exec "$@"' \
      hide "$build_dir" "$source_dir" "$@"
  else
    echo "note: no mount namespace here, so the source and build trees stay visible to the program"
    "$@"
  fi
}

# The window and a search, from the installed program alone. A desktop has a session bus; without one,
# D-Bus would start its own and note it in the home.
HOME=$work/home hidden dbus-run-session -- "$work/window_e2e.sh" "$program" "$work/shots"

# The window carries the icon at the theme's sizes, and its class is the one the entry names for docks.
export PROGRAM=$program WORK=$work
HOME=$work/home QT_QPA_PLATFORM=xcb hidden dbus-run-session -- \
  timeout 60 xvfb-run -a -s "-screen 0 640x560x24" bash -euo pipefail -c '
  "$PROGRAM" & pid=$!
  wid=$(timeout 30 xdotool search --sync --name "Murako検索ツール" | head -n 1)
  xprop -id "$wid" -notype WM_CLASS >"$WORK/wm_class"
  xprop -id "$wid" -len 100000000 -notype 32c _NET_WM_ICON >"$WORK/wm_icon"
  kill "$pid"'
grep -qxF "WM_CLASS = \"$wm_class\", \"$wm_class\"" "$work/wm_class" ||
  { echo "the window's class is not StartupWMClass=$wm_class: $(cat "$work/wm_class")"; exit 1; }
sizes=$(sed 's/^_NET_WM_ICON = //' "$work/wm_icon" | tr -d ' \n' | tr ',' '\n' | awk '
  BEGIN { next_at = 1 }
  NR == next_at { width = $1 } NR == next_at + 1 { print width "x" $1; next_at = NR + 1 + width * $1 }' |
  sort -n | tr '\n' ' ')
[ "$sizes" = "16x16 24x24 32x32 48x48 64x64 128x128 256x256 " ] ||
  { echo "the window's icon has the sizes \"$sizes\""; exit 1; }

# Shell toolkits may leave caches behind; the program itself writes no files.
left=$(find "$work/home" -mindepth 1 -not -path "$work/home/.cache" -not -path "$work/home/.cache/*")
[ -z "$left" ] || { echo "the program wrote into its home: $left"; exit 1; }

mkdir -p "$out"
cp "$work/shots/"*.png "$out/"
echo "screenshot of the installed program: $out/window.png"

apt-get purge -y -qq -o DPkg::Lock::Timeout=300 "$package" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; exit 1; }
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
  echo "$package is still installed"; exit 1
fi
# A directory may stay when another package still owns it; nothing else may.
while read -r path; do
  [ -e "$path" ] || continue
  [ -d "$path" ] && dpkg-query -S "$path" >/dev/null 2>&1 && continue
  echo "left behind after the purge: $path"; exit 1
done <"$work/files"
ls /var/lib/dpkg/info/"$package".* >/dev/null 2>&1 && { echo "dpkg still keeps files of $package"; exit 1; }
# Nor may anything the package's scripts made: only apt's and dpkg's records and the caches that the icon
# theme, the menu and the manual rebuild are new, besides the Windows build's cache, which may be growing.
left=$(find /etc /opt /usr /var -xdev -newer "$work/before" -not -type d \
  -not -path '/var/log/*' -not -path '/var/lib/dpkg/*' -not -path '/var/lib/apt/*' \
  -not -path '/var/cache/apt/*' -not -path '/var/cache/debconf/*' -not -path '/var/cache/man/*' \
  -not -path '/var/cache/murako-windows/*' \
  -not -path '/usr/share/icons/hicolor/icon-theme.cache' -not -path '/usr/share/applications/mimeinfo.cache' \
  2>/dev/null)
[ -z "$left" ] || { echo "left behind after the purge: $left"; exit 1; }
exit 0
