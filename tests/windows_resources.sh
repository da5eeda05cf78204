#!/usr/bin/env bash
# The Windows program's resources as Explorer reads them: its icon at every size the icon theme has (one
# icon group of seven images, drawn from the same SVG as the Linux icons) and a version resource with the
# program's version. Usage: windows_resources.sh EXE VERSION
set -uo pipefail
exe=$1 version=$2
objdump=x86_64-w64-mingw32-objdump
command -v "$objdump" >/dev/null || { echo "skipped: $objdump is missing"; exit 77; }
failures=0
fail() { echo "$exe: $*"; failures=$((failures + 1)); }

# The resource types and how many of each: the type table's entries, each followed by its name table.
types=$("$objdump" -p "$exe" | sed -n '/The .rsrc Resource Directory section/,$p' | awk '
  /^[0-9a-f]+   Entry: ID: / { type = $4; sub(",", "", type) }
  /^[0-9a-f]+    Name Table: / && type != "" { print type, $NF; type = "" }')
grep -qx '0x000003 7' <<<"$types" || fail "not seven icon images (type 3): ${types:-no resources}"
grep -qx '0x00000e 1' <<<"$types" || fail "not one icon group (type 14): ${types:-no resources}"
grep -qx '0x000010 1' <<<"$types" || fail "no version resource (type 16): ${types:-no resources}"

# The version strings, in UTF-16, each followed by its value.
for key in FileVersion ProductVersion; do
  value=$(strings -el -n 3 "$exe" | grep -A1 -x "$key" | sed -n 2p)
  [ "$value" = "$version" ] || fail "$key is \"$value\", not $version"
done
exit $((failures > 0))
