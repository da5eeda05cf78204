#!/usr/bin/env bash
# bench/ncdu-peak, which bench/compare --memory trusts for ncdu's memory and --export for ncdu's import: once
# the browser shows it reports ncdu's peak, every item ncdu counted, the seconds to the browser and ncdu's
# processor seconds, scanning a directory or importing a file; it fails when ncdu cannot scan the directory or shows no browser
# in time, and never leaves ncdu running. Usage: ncdu_peak.sh HELPER
set -u
helper=$1
command -v ncdu >/dev/null && command -v python3 >/dev/null || { echo "ncdu or python3 missing: skipped"; exit 77; }
source "$(dirname "$0")/e2e_tree.sh"
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }
# The ncdu processes of this tree still running.
left() { ps -eo args= | grep -F -- "$tree" | grep -c '^ncdu ' || true; }

# Enough entries, at several depths, that a count cut short or read off the scan's box shows.
for dir in alpha beta 2004; do
  mkdir -p "$tree/$dir/deeper/deepest"
  touch "$tree/$dir"/f{1..300} "$tree/$dir/deeper"/g{1..300}
done
entries=$(($(find "$tree" | wc -l) - 1))

# run SECONDS [ARGUMENTS]: ncdu over the tree (or as the arguments say) within SECONDS; it leaves no ncdu behind.
run() {
  local seconds=$1; shift
  out=$("$helper" "${@:-$tree}" "$seconds" 2>"$tree.err"); status=$?
  [ "$(left)" -eq 0 ] || fail "ncdu left running after a run of $seconds s: $(ps -eo pid=,args= | grep -F -- "$tree")"
}

ncdu -0 -o "$tree.json" "$tree"
for source in scan import; do
  if [ $source = scan ]; then run 60; else run 60 --import "$tree.json"; fi
  [ $status -eq 0 ] || fail "ncdu-peak, $source of the tree: exit $status, $(cat "$tree.err")"
  read -r peak items seconds busy <<<"$out"
  [ "$items" = "$entries" ] || fail "ncdu-peak, $source: counted \"$items\" items, find $entries"
  [[ "$peak" =~ ^[0-9]+$ ]] && [ "$peak" -gt 1000 ] || fail "ncdu-peak, $source: peak \"$peak\" kB"
  # ncdu works on one thread, in the seconds to its browser.
  awk -v s="$seconds" -v b="$busy" 'BEGIN { exit !(s > 0 && s < 60 && b >= 0 && b <= s + 0.02) }' ||
    fail "ncdu-peak, $source: \"$seconds\" seconds to the browser, \"$busy\" processor seconds"
done

# No time to show the browser: a failure, and ncdu ended.
run 0
[ $status -ne 0 ] && grep -q 'no browser' "$tree.err" || fail "no time given: exit $status, \"$out\", $(cat "$tree.err")"

# A directory ncdu cannot scan: a failure at once, not after the time given, and ncdu ended.
out=$("$helper" "$tree/missing" 30 2>"$tree.err"); status=$?
[ $status -ne 0 ] && grep -q 'could not scan' "$tree.err" || fail "a missing directory: exit $status, \"$out\""
[ "$(left)" -eq 0 ] || fail "ncdu left running after a missing directory"
rm -f "$tree.err" "$tree.json"
exit $((failures > 0))
