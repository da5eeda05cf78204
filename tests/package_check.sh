#!/usr/bin/env bash
# The Debian package as a desktop and a package manager read it: the desktop entry, the AppStream metainfo and
# the package pass their validators, and the entry starts the packaged program with the packaged icon at
# every size of the hicolor theme. Usage: package_check.sh DEB. Exits 77 (skipped) when a validator is missing.
set -uo pipefail
deb=$1
for tool in dpkg-deb desktop-file-validate appstreamcli lintian identify; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root" || exit 1
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }

entries=("$root"/usr/share/applications/*.desktop)
[ ${#entries[@]} -eq 1 ] && [ -f "${entries[0]}" ] || { echo "not one desktop entry: ${entries[*]}"; exit 1; }
entry=${entries[0]}
id=$(basename "$entry" .desktop)
key() { sed -n "s/^$1=//p" "$entry"; }

# Hints are advice; a warning or an error is a fault.
out=$(desktop-file-validate "$entry" 2>&1)
grep -vE '^[^:]+: hint: ' <<<"$out" | grep -q . && fail "desktop-file-validate: $out"

exec_line=$(key Exec)
if ! [[ "$exec_line" =~ ^[a-z][a-z0-9-]*$ ]]; then
  fail "Exec is not a bare program name: \"$exec_line\""
elif ! [ -x "$root/usr/bin/$exec_line" ]; then
  fail "Exec=$exec_line: no usr/bin/$exec_line in the package"
fi
name_ja=$(key 'Name\[ja\]')
[ "$name_ja" = "Murako検索ツール" ] || fail "Name[ja] is not the window's caption: \"$name_ja\""
[ -n "$(key Comment)" ] && [ -n "$(key 'Comment\[ja\]')" ] || fail "Comment or Comment[ja] is missing"
categories=";$(key Categories)"
[[ "$categories" == *";System;"* && "$categories" == *";Filesystem;"* ]] ||
  fail "Categories=$(key Categories) does not place the program with the disk tools (System;Filesystem;)"

icon=$(key Icon)
[ "$icon" = "$id" ] || fail "Icon=$icon is not named after the entry $id"
for size in 16 24 32 48 64 128 256; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
  got=$(identify -format '%m %wx%h' "$png" 2>/dev/null) || got="no file"
  [ "$got" = "PNG ${size}x${size}" ] || fail "icon ${size}x${size}/apps/$icon.png: $got"
done
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable/apps/$icon.svg"

metainfo=$root/usr/share/metainfo/$id.metainfo.xml
if [ -f "$metainfo" ]; then
  # Offline: the screenshot's address is checked by the software centres that fetch it. Its infos count too
  # (a missing content rating is one); pedantic remarks do not.
  out=$(appstreamcli validate --no-net --no-color "$metainfo" 2>&1)
  status=$?
  { [ $status -ne 0 ] || grep -qE '^[EWI]: ' <<<"$out"; } && fail "appstreamcli validate: $out"
  grep -q "<id>$id</id>" "$metainfo" || fail "the metainfo's id is not $id"
  grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $id.desktop"
  version=$(dpkg-deb -f "$deb" Version)
  grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"
  zcat "$root/usr/share/doc/murako/changelog.gz" | head -n 1 | grep -qF "murako ($version)" ||
    fail "the changelog does not start with $version"
else
  fail "no metainfo usr/share/metainfo/$id.metainfo.xml"
fi

# dpkg-shlibdeps found the libraries; the fonts the window draws Japanese with are named by hand, and the
# large fonts for other scripts and Qt's translations are only recommended.
field_names() { dpkg-deb -f "$deb" "$1" | tr ',' '\n' | sed 's/^ *//; s/[ (].*//'; }
for package in libqt6widgets6 libtbb12 fonts-ipafont-gothic fonts-ipafont-mincho; do
  field_names Depends | grep -qxF "$package" || fail "Depends lacks $package: $(dpkg-deb -f "$deb" Depends)"
done
for package in fonts-noto-cjk fonts-noto-color-emoji qt6-translations-l10n; do
  field_names Recommends | grep -qxF "$package" || fail "Recommends lacks $package: $(dpkg-deb -f "$deb" Recommends)"
  field_names Depends | grep -qxF "$package" && fail "Depends pulls in $package, which is only recommended"
done

# Informational tags count too: they name the hardening flags and the compiler notes left in the program.
# Spelling in the binary is left out: its machine code spells words by chance ("WtH"), changing with every build.
out=$(lintian --display-info --fail-on error,warning,info --tag-display-limit 0 \
  --suppress-tags spelling-error-in-binary "$deb" 2>&1) ||
  fail "lintian: $(grep -v 'running with root privileges' <<<"$out")"

exit $((failures > 0))
