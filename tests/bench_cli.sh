#!/usr/bin/env bash
# murako-bench as scripts use it: a search it cannot make fails with a message, never with a total of 0,
# and a search made prints its rows, its total, then what could not be read and last the thread counts the
# walk chose; --version prints the version the package carries. Usage: bench_cli.sh PROGRAM VERSION
set -u
bench=$1 version=$2
source "$(dirname "$0")/e2e_tree.sh"
failures=0

# expect STATUS MESSAGE-PATTERN ARGS...: the exit status, and a line of stderr matching the pattern.
expect_failure() {
  local status=$1 pattern=$2; shift 2
  local err got
  err=$("$bench" "$@" 2>&1 >/dev/null); got=$?
  if [ "$got" -ne "$status" ] || ! grep -qE "$pattern" <<<"$err"; then
    echo "murako-bench $*: exit $got, \"$err\"; expected exit $status and /$pattern/"
    failures=$((failures + 1))
  fi
}

got=$("$bench" --version 2>&1) && [ "$got" = "murako-bench $version" ] ||
  { echo "murako-bench --version: \"$got\", expected \"murako-bench $version\""; failures=$((failures + 1)); }

# On disk the rows are written again once the walk has settled where each file of several links counts:
# every № is printed once.
numbers=$("$bench" --on-disk --keep-tree "$tree" | awk -F'\t' 'NF == 3 { print $1 }')
[ -n "$numbers" ] && [ "$(sort -n <<<"$numbers" | uniq -d)" = "" ] ||
  { echo "murako-bench --on-disk --keep-tree printed a row twice: $numbers"; failures=$((failures + 1)); }

expect_failure 1 '見つかりません' "$tree/missing"
expect_failure 1 'ディレクトリではありません' "$tree/root.bin"
expect_failure 2 'not a thread count: abc' --threads abc "$tree"
expect_failure 2 'not a thread count: -1' --threads -1 "$tree"
expect_failure 2 'not a thread count: 100000' --threads 100000 "$tree"
expect_failure 2 'needs a number' "$tree" --threads
expect_failure 2 'one directory only' "$tree" "$tree"
expect_failure 2 'unknown option' --thread 2 "$tree"
expect_failure 2 'no directory' --threads 2
expect_failure 2 'empty argument' '' "$tree"
expect_failure 2 'empty argument' "$tree" ''
expect_failure 2 'not a thread count: $' --threads '' "$tree"
expect_failure 1 '名前が長すぎます' "$tree/$(printf '%0256d' 0)"
ln -s loop "$tree/loop"
expect_failure 1 'リンクが循環しています' "$tree/loop"
rm "$tree/loop"

# After --, an argument that looks like an option is the directory.
mkdir "$tree/alpha/-x"
expect_failure 2 'unknown option -y' -y
got=$(cd "$tree/alpha" && "$bench" -- -x) && grep -q '^total_bytes=0 entries=0 ' <<<"$got" ||
  { echo "murako-bench -- -x: \"$got\""; failures=$((failures + 1)); }
rmdir "$tree/alpha/-x"
# The largest count the usage names.
got=$("$bench" --threads 128 "$tree") && grep -q '^total_bytes=18000 ' <<<"$got" ||
  { echo "murako-bench --threads 128: \"$got\""; failures=$((failures + 1)); }

chmod 755 "$tree"
mkdir "$tree/beta/sealed"
chmod 0 "$tree/beta/sealed"
if [ "$(id -u)" -ne 0 ]; then
  expect_failure 1 'アクセス権がありません' "$tree/beta/sealed"
else
  # As nobody, unless nobody cannot run the program at all (126, 127).
  err=$(setpriv --reuid=nobody --regid=nogroup --clear-groups "$bench" "$tree/beta/sealed" 2>&1 >/dev/null); got=$?
  if [ $got -ne 126 ] && [ $got -ne 127 ] && { [ $got -ne 1 ] || ! grep -q 'アクセス権がありません' <<<"$err"; }; then
    echo "as nobody, a sealed base: exit $got, \"$err\""; failures=$((failures + 1))
  fi
fi
out=$(setpriv --reuid=nobody --regid=nogroup --clear-groups "$bench" --threads 2 "$tree" 2>&1 </dev/null) ||
  out=$("$bench" --threads 2 "$tree")
if [ "$(id -u)" -eq 0 ] && ! grep -q '^unread=1$' <<<"$out"; then
  # Root reads everything, and nobody could not run the program: nothing left to check.
  grep -q '^unread=0$' <<<"$out" || { echo "no unread count: $out"; failures=$((failures + 1)); }
else
  tail -n 3 <<<"$out" | head -n 1 | grep -q '^unread=1$' &&
    tail -n 2 <<<"$out" | head -n 1 | grep -qF "unread: $tree/beta/sealed (アクセス権がありません)" ||
    { echo "the unread place is not before the last line: $out"; failures=$((failures + 1)); }
fi
tail -n 1 <<<"$out" | grep -qE '^threads=2 first=2 most=2$' || { echo "no thread counts last: $out"; failures=$((failures + 1)); }
# Seven names and the sealed directory.
grep -qE "^total_bytes=18000 entries=8 " <<<"$out" || { echo "wrong total or entries: $out"; failures=$((failures + 1)); }
chmod 755 "$tree/beta/sealed"

# A row stays three fields whatever its name holds.
odd=$'tab\there,\nnewline\\back'
mkdir "$tree/$odd"
head -c 1000 /dev/zero >"$tree/$odd/data"
out=$("$bench" "$tree")
grep -qF "$(printf '\t%s\t1000' 'tab\there,\nnewline\\back')" <<<"$out" &&
  [ "$(grep -c $'\t' <<<"$out")" -eq 6 ] && awk -F'\t' 'NF != 3 && NF != 1 { bad = 1 } END { exit bad }' <<<"$out" ||
  { echo "a name with a tab, a newline and a backslash: $out"; failures=$((failures + 1)); }
exit $((failures > 0))
