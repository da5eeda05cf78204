#!/usr/bin/env bash
# A share that stops answering must not hold the window or the program: mounts the slow file system over a
# tree in a mount namespace of its own, and runs murako-share-hang on it, which stops the daemon mid-search,
# presses 取消 and 終了 on the real window offscreen; then checks that the program's main thread ended within
# a second of 終了 while its walk was still stuck, lets the daemon go on, and unmounts it.
# Usage: share_hang.sh DRIVER SLOWFS. Exits 77 (skipped) without root or /dev/fuse.
set -uo pipefail
driver=$1 slowfs=$2
[ "$(id -u)" -eq 0 ] || { echo "skipped: mounting the slow file system needs root"; exit 77; }
[ -c /dev/fuse ] || { echo "skipped: /dev/fuse is missing"; exit 77; }
command -v unshare >/dev/null || { echo "skipped: unshare is missing"; exit 77; }
# In a namespace of its own no other program walks into the mount, and the mount goes with it.
[ -n "${MURAKO_OWN_MOUNTS:-}" ] || exec env MURAKO_OWN_MOUNTS=1 unshare --mount --propagation private "$0" "$@"

work=$(mktemp -d) daemon= program=
finish() {
  [ -n "$daemon" ] && kill -CONT "$daemon" 2>/dev/null
  [ -n "$program" ] && kill -KILL "$program" 2>/dev/null
  [ -n "$daemon" ] && { fusermount3 -u "$work/share" 2>/dev/null || umount -l "$work/share"; }
  [ -n "$daemon" ] && { kill "$daemon" 2>/dev/null; wait "$daemon" 2>/dev/null; }
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 130' INT TERM

# Forty subdirectories, each a chain twelve deep with a few files at every level: at 20 ms a call, over a second.
for d in $(seq 40); do
  path=$work/source/d$d
  for level in $(seq 12); do
    path=$path/l$level
    mkdir -p "$path"
    for f in 1 2 3; do head -c 100 /dev/zero > "$path/f$f"; done
  done
done
mkdir "$work/share"
"$slowfs" --latency-ms 20 "$work/source" "$work/share" 2>/dev/null &
daemon=$!
for _ in $(seq 100); do mountpoint -q "$work/share" && break; sleep 0.05; done
mountpoint -q "$work/share" || { echo "the slow file system did not mount"; exit 1; }

QT_QPA_PLATFORM=offscreen "$driver" "$daemon" "$work/share" > "$work/out" 2>&1 &
program=$!
failures=0
pressed=
for _ in $(seq 300); do
  pressed=$(sed -n 's/^終了 pressed at //p' "$work/out")
  [ -n "$pressed" ] || ! kill -0 "$program" 2>/dev/null && break
  sleep 0.05
done
# The main thread has returned once the process is a zombie or gone; stuck walking threads keep it unreaped.
ended=
for _ in $(seq 60); do
  state=$(awk '{ print $3 }' "/proc/$program/stat" 2>/dev/null)
  if [ -z "$state" ] || [ "$state" = Z ]; then ended=$(date +%s.%N); break; fi
  sleep 0.05
done
if [ -z "$pressed" ]; then
  echo "終了 was never pressed"; failures=$((failures + 1))
elif [ -z "$ended" ] || awk -v p="$pressed" -v e="$ended" 'BEGIN { exit !(e - p > 1.0) }'; then
  echo "the program did not end within a second of 終了 while the share hung"; failures=$((failures + 1))
else
  awk -v p="$pressed" -v e="$ended" 'BEGIN { printf "the program ended %.0f ms after 終了\n", (e - p) * 1000 }'
fi
kill -CONT "$daemon"
for _ in $(seq 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.05; done
if kill -0 "$program" 2>/dev/null; then
  echo "the program did not go once the share answered again"; failures=$((failures + 1))
else
  wait "$program"; status=$?
  [ $status -eq 0 ] || { echo "the window's checks failed (exit $status)"; failures=$((failures + 1)); }
fi
program=
cat "$work/out"
exit $((failures > 0))
