#!/usr/bin/env bash
# Runs a test program under wine: wine_run.sh WINE PROGRAM. A wine server that exits as another program ends
# can drop this one's connection as it starts ("recvmsg: Connection reset by peer"): then, and only then, the
# program runs again, up to three times in all. A test that fails is never run again.
for try in 1 2 3; do
  output=$("$@" 2>&1)
  status=$?
  printf '%s\n' "$output"
  if [ "$status" -eq 0 ] || ! grep -q 'wine client error.*Connection reset by peer' <<<"$output"; then
    exit "$status"
  fi
  echo "wine_run.sh: the wine server dropped the connection; running the program again"
done
exit "$status"
