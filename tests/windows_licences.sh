#!/usr/bin/env bash
# scripts/windows-licences on a made-up Windows folder: DLLs from a library built in a cache (its source's
# licence files) and from mingw-w64's runtime (its Debian package's copyright) each get their texts and a
# line in README.txt; a DLL whose origin was not recorded, or whose source has no licence file, fails it.
# Usage: windows_licences.sh SCRIPT. Exits 77 (skipped) without mingw-w64's runtime.
set -uo pipefail
script=$1
runtime=/usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll
[ -f "$runtime" ] || { echo "skipped: no $runtime"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }

mkdir -p "$work/cache/fakelib-1.0-1/bin" "$work/cache/src/fakelib-1.0" "$work/cache/bare-2.0-1/bin" \
  "$work/cache/src/bare-2.0" "$work/stage/plugins/styles"
echo "fakelib licence" >"$work/cache/src/fakelib-1.0/LICENSE.txt"
for dll in fake.dll plugins/styles/fakestyle.dll libwinpthread-1.dll bare.dll; do echo MZ >"$work/stage/$dll"; done
printf 'fake.dll\t%s\nplugins/styles/fakestyle.dll\t%s\nlibwinpthread-1.dll\t%s\n' \
  "$work/cache/fakelib-1.0-1/bin" "$work/cache/fakelib-1.0-1" "$(dirname "$runtime")" >"$work/origins"

# bare.dll has no origin: the check names it, and only it.
out=$("$script" "$work/stage" "$work/origins" 2>&1) && fail "a DLL without a recorded origin passed"
[ "$out" = "no licence text for bare.dll" ] || fail "the check said: $out"
readme=$work/stage/licences/README.txt
for line in "fake.dll licences/fakelib-1.0-1" "plugins/styles/fakestyle.dll licences/fakelib-1.0-1" \
  "libwinpthread-1.dll licences/mingw-w64-x86-64-dev"; do
  tr -s ' ' <"$readme" | grep -qxF "$line" || fail "README.txt lacks \"$line\""
done
cmp -s "$work/cache/src/fakelib-1.0/LICENSE.txt" "$work/stage/licences/fakelib-1.0-1/LICENSE.txt" ||
  fail "the cached library's LICENSE.txt was not shipped"
[ -s "$work/stage/licences/mingw-w64-x86-64-dev/debian-copyright" ] || fail "the runtime's copyright was not shipped"

# A recorded origin whose source holds no licence file fails too.
printf 'bare.dll\t%s\n' "$work/cache/bare-2.0-1/bin" >>"$work/origins"
out=$("$script" "$work/stage" "$work/origins" 2>&1) && fail "a DLL whose source has no licence passed"
[ "$out" = "no licence text for bare.dll" ] || fail "the check said: $out"
rm "$work/stage/bare.dll"
sed -i '$d' "$work/origins"
"$script" "$work/stage" "$work/origins" || fail "the folder with every DLL's licence failed"
exit $((failures > 0))
