#!/usr/bin/env bash
# murako-bench's item counts and what a search leaves out, against find, du and ncdu run here on the same
# directories: --entries against find's count of each row, -x, --exclude and --exclude-from against du's total
# on disk with the same option, --exclude-caches against ncdu's. On a made tree (files of several links, a
# tmpfs and a bind mount below when this may mount, patterns with and without "/"), on /usr, and on each
# further directory given (the benchmark trees). Usage: bench_scope.sh PROGRAM [DIR...]
set -u
bench=$1; shift
command -v ncdu >/dev/null && command -v jq >/dev/null || { echo "ncdu or jq missing"; exit 77; }
export LC_ALL=C.UTF-8
source "$(dirname "$0")/e2e_tree.sh"
files=$(mktemp -d)
mounted=()
cleanup() {
  for place in "${mounted[@]}"; do umount "$place" 2>/dev/null || umount -l "$place"; done
  rm -rf "$tree" "$files"
}
trap cleanup EXIT
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }

# The made tree: plain, several links, names with blanks, build output, caches true and false.
mkdir -p "$tree/alpha/deep/er/est" "$tree/src/node_modules/pkg" "$tree/src/obj" "$tree/with space/sub"
mkdir -p "$tree/cache/inner" "$tree/not cache" "$tree/beta/nested cache"
head -c 12345 /dev/urandom >"$tree/alpha/deep/er/est/random"
head -c 70000 /dev/urandom >"$tree/src/big.o"
ln "$tree/src/big.o" "$tree/alpha/second link"
ln "$tree/src/big.o" "$tree/with space/third link"
for i in 1 2 3; do head -c $((i * 5000)) /dev/urandom >"$tree/src/obj/part$i.o"; done
printf 'module.exports = 1\n' >"$tree/src/node_modules/pkg/index.js"
head -c 9000 /dev/urandom >"$tree/with space/sub/file one"
ln -s ../root.bin "$tree/beta/link"
signature='Signature: 8a477f597d28d172789f06886806bc55'
printf '%s\n# a cache\n' "$signature" >"$tree/cache/CACHEDIR.TAG"
head -c 40000 /dev/urandom >"$tree/cache/inner/cached"
printf '%s\n' "$signature" >"$tree/beta/nested cache/CACHEDIR.TAG"
head -c 30000 /dev/urandom >"$tree/beta/nested cache/cached"
printf 'Signature: not this one\n' >"$tree/not cache/CACHEDIR.TAG"
head -c 20000 /dev/urandom >"$tree/not cache/kept"

# Another file system below, and a bind mount of one of the tree's own directories, where this may mount.
mkdir "$tree/mnt" "$tree/bound"
if mount -t tmpfs -o size=4m murako-scope-test "$tree/mnt" 2>/dev/null; then
  mounted+=("$tree/mnt")
  mkdir "$tree/mnt/on tmpfs"
  head -c 100000 /dev/urandom >"$tree/mnt/on tmpfs/data"
  mount --bind "$tree/with space" "$tree/bound" && mounted+=("$tree/bound")
else
  echo "cannot mount here: no other file system below the made tree"
fi

# How many names find lists below a place, the place itself not counted.
names_below() { find "$@" -mindepth 1 -printf . | wc -c; }

# Each row's count equals find's: a subdirectory's names below it, [Root Files]'s files, the total's every name.
check_entries() {
  local dir=${1%/} out; shift
  out=$("$bench" --entries "$@" "$dir") || { fail "murako-bench --entries $* $dir failed"; return; }
  local xdev=(); [[ " $* " == *" -x "* || " $* " == *" --one-file-system "* ]] && xdev=(-xdev)
  while IFS=$'\t' read -r number name bytes count; do
    local expected
    if [ "$number" = 1 ]; then
      expected=$(find "$dir" -mindepth 1 -maxdepth 1 ! -type d -printf . | wc -c)
    elif [[ $name == *合計 ]]; then
      expected=$(names_below "$dir/" "${xdev[@]}")
    elif [ ${#xdev[@]} -gt 0 ] && [ "$(stat -c %d "$dir/$name")" != "$(stat -c %d "$dir")" ]; then
      expected=0  # another file system's root is never entered
    else
      expected=$(names_below "$dir/$name" "${xdev[@]}")
    fi
    [ "$count" = "$expected" ] || fail "murako-bench --entries $* $dir: row $number ($name) holds $count, find lists $expected"
  done < <(grep -P '^[0-9]+\t' <<<"$out")
}

# The total on disk with the given options equals du's with the same options.
check_du() {
  local dir=$1; shift
  local ours theirs
  ours=$("$bench" --on-disk "$@" "$dir" | sed -n 's/^total_bytes=\([0-9]*\) .*/\1/p')
  theirs=$(du -s --block-size=1 "$@" "$dir" | cut -f1)
  [ "${theirs:-0}" = "$ours" ] || fail "murako-bench --on-disk $* $dir: $ours, du: ${theirs:-nothing}"
}

printf '*.o\n  \nalpha/deep\t \n' >"$files/patterns"
for options in '' '-x' '--exclude *.o' '--exclude node_modules' '--exclude alpha/deep' '--exclude */er/*' \
  '--exclude b?ta --exclude [0-9]*' '--exclude *space/s*' "--exclude-from $files/patterns" \
  "-x --exclude-from $files/patterns" '--one-file-system --exclude mnt'; do
  # shellcheck disable=SC2086 # the options are words
  check_du "$tree" $options
done
check_entries "$tree"
check_entries "$tree" -x
check_entries "$tree" --one-file-system --threads 1

# A pattern matching the directory searched: du counts nothing, and neither does a search, saying so.
out=$("$bench" --exclude '*' "$tree" 2>"$files/err")
grep -q '^total_bytes=0 ' <<<"$out" && grep -q 'excluded by a pattern' "$files/err" ||
  fail "a pattern excluding the directory searched: $out $(cat "$files/err")"
[ -z "$(du -s --exclude '*' "$tree")" ] || fail "du counts a directory its pattern excludes"

# Caches as ncdu leaves them out: the sum of what its file counts on disk.
mv "$tree/alpha/second link" "$tree/with space/third link" "$files/"  # ncdu's file writes each link's space
for place in "${mounted[@]}"; do umount "$place"; done; mounted=()
ours=$("$bench" --on-disk --exclude-caches "$tree" | sed -n 's/^total_bytes=\([0-9]*\) .*/\1/p')
ncdu --exclude-caches -o "$files/ncdu.json" "$tree" 2>/dev/null || fail "ncdu -o failed"
theirs=$(jq '[.. | objects | select(has("dsize") and (has("excluded") | not)) | .dsize] | add' "$files/ncdu.json")
[ "$ours" = "$theirs" ] || fail "murako-bench --exclude-caches: $ours, ncdu: $theirs"
all=$("$bench" --on-disk "$tree" | sed -n 's/^total_bytes=\([0-9]*\) .*/\1/p')
[ "$ours" -lt "$all" ] || fail "--exclude-caches left nothing out: $ours of $all"

# Bad input fails with a message.
expect_failure() {
  local status=$1 pattern=$2; shift 2
  local err got
  err=$("$bench" "$@" 2>&1 >/dev/null); got=$?
  [ "$got" -eq "$status" ] && grep -qE "$pattern" <<<"$err" ||
    fail "murako-bench $*: exit $got, \"$err\"; expected exit $status and /$pattern/"
}
expect_failure 1 "$files/missing: No such file" --exclude-from "$files/missing" "$tree"
expect_failure 1 "$files: Is a directory" --exclude-from "$files" "$tree"
expect_failure 2 'cannot be matched: a\[b' --exclude 'a[b' "$tree"
expect_failure 2 'needs a pattern' "$tree" --exclude

# Real trees: /usr and those given.
for dir in /usr "$@"; do
  [ -d "$dir" ] || continue
  check_entries "$dir" --threads 2
  check_entries "$dir" -x
  check_du "$dir" -x
  # du tries every pattern on every tail of every path: a chain thousands deep would take it hours.
  if [ -z "$(find "$dir" -mindepth 40 -print -quit)" ]; then
    check_du "$dir" --exclude '*.so*' --exclude 'share/doc' --exclude 'l?b*/*/[a-c]*'
  fi
done

[ "$failures" -eq 0 ] || { echo "$failures failures"; exit 1; }
echo "counts and scope agree with find, du and ncdu"
