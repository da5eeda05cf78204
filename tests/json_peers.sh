#!/usr/bin/env bash
# murako-bench's export and import against the other tools of the format: gdu reading our file counts what it
# counts scanning the directory, apparent sizes and disk usage alike, and murako-bench reading a file of ncdu
# or gdu prints the rows and the total a search prints, lengths and space on disk. Usage: json_peers.sh PROGRAM
set -u
bench=$1
command -v gdu >/dev/null && command -v ncdu >/dev/null || { echo "gdu or ncdu missing"; exit 77; }
source "$(dirname "$0")/e2e_tree.sh"
files=$(mktemp -d)
trap 'rm -rf "$tree" "$files"' EXIT
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }

# Names of every kind, files that take space, a file of two links across directories, a link, empty directories.
mkdir -p "$tree/alpha/deep/er/est" "$tree/$(printf 'tab\there')" "$tree/q\"uote\\" "$tree/日本語" "$tree/empty"
mkdir "$tree/$(printf 'not utf-8 \xff\xfe')"
head -c 12345 /dev/urandom >"$tree/alpha/deep/er/est/random"
head -c 70000 /dev/urandom >"$tree/日本語/big"
ln "$tree/日本語/big" "$tree/alpha/second link"
ln -s ../root.bin "$tree/beta/link"
printf x >"$tree/$(printf 'not utf-8 \xff\xfe')/$(printf 'ctrl\x01\x1f')"

# The rows without their numbers, sorted, as gdu orders a directory by name, and the total. A search that keeps
# its tree on disk prints its rows again as the tree settles where a file of several links counts: the last.
rows() {
  "$bench" "$@" | awk '/^1\t/ { n = 0 } /^[0-9]+\t/ { row[n++] = $0 } /^total_bytes=/ { total = $0 }
    END { for (i = 0; i < n; i++) print row[i]; print total }' |
    sed -E 's/^[0-9]+\t//; s/ seconds=.*//' | sort
}

"$bench" --export "$files/ours.json" "$tree" >/dev/null || fail "murako-bench --export failed"
for apparent in -a ''; do
  read_back=$(gdu -f "$files/ours.json" -n -p $apparent -s --no-prefix | awk '{print $1}')
  scanned=$(gdu -n -p $apparent -s --no-prefix "$tree" | awk '{print $1}')
  [ -n "$scanned" ] && [ "$read_back" = "$scanned" ] ||
    fail "gdu $apparent of our file: $read_back, of the directory: $scanned"
done
ncdu -f "$files/ours.json" -o "$files/ncdu-again.json" 2>/dev/null || fail "ncdu does not read our file"

ncdu -o "$files/ncdu.json" "$tree" 2>/dev/null || fail "ncdu -o failed"
gdu -o "$files/gdu.json" "$tree" >/dev/null 2>&1 || fail "gdu -o failed"
# On disk, a file of several links counts where a kept tree's listing order meets it first, as ncdu's file puts
# it; gdu's file writes no directory's own space and the first link of a file without its inode, so that only
# its lengths can be those of a search.
for measure in '' --on-disk; do
  searched=$(rows $measure --keep-tree "$tree")
  peers='ours ncdu gdu'
  [ -n "$measure" ] && peers='ours ncdu'
  for file in $peers; do
    [ "$(rows $measure --import "$files/$file.json")" = "$searched" ] ||
      fail "murako-bench $measure --import of $file's file: $(rows $measure --import "$files/$file.json")
      a search: $searched"
  done
done
# Each row's newest change read from ncdu's extended file and gdu's (both write "mtime") is a search's; ncdu's
# file without -e has no times, and every row's is unknown, never 1970.
ncdu -e -o "$files/ncdu-e.json" "$tree" 2>/dev/null || fail "ncdu -e -o failed"
newest() { "$bench" --newest "$@" | grep -P '^[0-9]+\t' | sort -n | cut -f1,4; }
for file in ours ncdu-e gdu; do
  [ "$(newest --import "$files/$file.json")" = "$(newest "$tree")" ] ||
    fail "the newest changes read from $file's file: $(newest --import "$files/$file.json")"
done
[ -z "$(newest --import "$files/ncdu.json" | cut -f2 | grep -v '^?$')" ] ||
  fail "a file without times gives times: $(newest --import "$files/ncdu.json")"
# Our own file gives the rows in the order the search listed them.
[ "$("$bench" --import "$files/ours.json" | head -n -3)" = "$("$bench" "$tree" | head -n -3)" ] ||
  fail "our file read back lists its rows in another order"

# Standard output and input: the file on one, the rows on the other.
[ "$("$bench" --export - "$tree" 2>/dev/null | "$bench" --import - | head -n -3)" = "$("$bench" "$tree" | head -n -3)" ] ||
  fail "the file written to standard output and read from standard input differs"
# A file that cannot be written fails and leaves nothing behind; the options' misuse is told.
err=$("$bench" --export "$files/missing/f.json" "$tree" 2>&1 >/dev/null)
[ $? -eq 1 ] && grep -q 'no such folder' <<<"$err" || fail "--export into a missing folder: $err"
chmod 555 "$files"
if ! touch "$files/probe" 2>/dev/null; then
  err=$("$bench" --export "$files/f.json" "$tree" 2>&1 >/dev/null)
  [ $? -eq 1 ] && grep -q 'permission denied' <<<"$err" || fail "--export into a read-only folder: $err"
fi
rm -f "$files/probe"
chmod 755 "$files"
[ -z "$(find "$files" -name '*.murako-*')" ] || fail "a temporary file was left: $(ls "$files")"
for args in "--import $files/ours.json $tree" "--export $files/x.json --import $files/ours.json" "--export" "--import"; do
  err=$("$bench" $args 2>&1 >/dev/null)
  [ $? -eq 2 ] && grep -qE 'reads a file instead|needs a file' <<<"$err" || fail "murako-bench $args: $err"
done

# A file cut short is no result.
head -c 200 "$files/ours.json" >"$files/cut.json"
err=$("$bench" --import "$files/cut.json" 2>&1 >/dev/null)
[ $? -eq 1 ] && grep -qE 'ends before its JSON does \(at byte 200\)' <<<"$err" || fail "a file cut short: $err"
exit $((failures > 0))
