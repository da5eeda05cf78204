#!/usr/bin/env bash
# murako-bench --newest against find run here on the same directories: each row's newest change equals the
# newest %T@ find prints for it, in whole seconds (a subdirectory with everything below it, [Root Files]'s
# files, the total's directory and everything below). Searched as it walks, from the kept tree, and read back
# from its own export file. On a made tree (times touched to 2100, to -1 and before 1902, a link's own time,
# an empty directory), on /usr, and on each further directory given (the benchmark trees).
# Usage: bench_newest.sh PROGRAM [DIR...]
set -u
bench=$1; shift
export LC_ALL=C.UTF-8 TZ=UTC
tree=$(mktemp -d)
saved=$(mktemp)
trap 'rm -rf "$tree" "$saved"' EXIT
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }

mkdir -p "$tree/future/below" "$tree/past" "$tree/empty" "$tree/plain/a/b"
touch -d @4102444800 "$tree/future/below/in 2100"
touch -d @-1 "$tree/past/a second before 1970"
touch -d @-2500000000 "$tree/past/before 1902"
touch -d @1000000000 "$tree/plain/a/b/old" "$tree/plain/own file"
ln -s nowhere "$tree/plain/link"
touch -h -d @1500000000 "$tree/plain/link"
touch -d @1200000000 "$tree/past" "$tree/plain/a/b" "$tree/plain/a" "$tree/plain"
touch -d @-100 "$tree/empty"
touch -d @1100000000 "$tree/root file"

# The newest of what find prints with these arguments, rounded down to the second; "?" when it prints nothing.
newest_of() {
  find "$@" -printf '%T@\n' | sort -g | tail -n 1 |
    awk '{ whole = int($1); if (whole > $1) whole -= 1; printf "%.0f\n", whole } END { if (NR == 0) print "?" }'
}

# find's newest for each row, worked out once for all the ways the rows are read.
declare -A expected

# Every row of murako-bench's output (read from standard input) against find's newest for it.
check_rows() {
  local dir=${1%/} how=$2
  while IFS=$'\t' read -r number name bytes newest; do
    local key="$dir/$number/$name"
    if [ -z "${expected[$key]:-}" ]; then
      if [ "$number" = 1 ]; then
        expected[$key]=$(newest_of "$dir/" -mindepth 1 -maxdepth 1 ! -type d)
      elif [[ $name == *合計 ]]; then
        expected[$key]=$(newest_of "$dir/")
      else
        expected[$key]=$(newest_of "$dir/$name")
      fi
    fi
    [ "$newest" = "${expected[$key]}" ] || fail "$how $dir: row $number ($name) newest $newest, find's ${expected[$key]}"
  done < <(grep -P '^[0-9]+\t')
}

check() {
  local dir=$1 out
  out=$("$bench" --newest "$dir") || { fail "murako-bench --newest $dir failed"; return; }
  check_rows "$dir" "murako-bench --newest" <<<"$out"
  out=$("$bench" --newest --keep-tree --on-disk --export "$saved" "$dir") || {
    fail "murako-bench --newest --keep-tree --on-disk $dir failed"; return; }
  check_rows "$dir" "from the kept tree" <<<"$out"
  out=$("$bench" --newest --import "$saved") || { fail "murako-bench --newest --import of $dir failed"; return; }
  check_rows "$dir" "read back from its export" <<<"$out"
}

check "$tree"
# A wider row of numbers keeps --entries' count before the newest.
row=$("$bench" --entries --newest "$tree" | grep -P '^[0-9]+\tpast\t')
[ "$(cut -f4,5 <<<"$row")" = "$(printf '2\t1200000000')" ] || fail "--entries --newest gives: $row"
for dir in /usr "$@"; do
  if [ -d "$dir" ]; then check "$dir"; else echo "$dir: missing, left out"; fi
done
[ "$failures" -eq 0 ] && echo "every row's newest equals find's" || exit 1
