#!/usr/bin/env bash
# Starts the real program on a virtual X display with its own session bus and accessibility bus, and reads
# the window through the bus as a screen reader would: READER, accessibility_e2e.py unless given.
# Usage: accessibility_e2e.sh PROGRAM [READER]. Exits 77 (skipped) when the tools are missing or the bus cannot
# start.
set -euo pipefail
program=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
reader=$here/${2:-accessibility_e2e.py}
launcher=/usr/libexec/at-spi-bus-launcher
python=/usr/bin/python3
for tool in xvfb-run dbus-run-session dbus-send "$launcher" "$python"; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
# Readers other than the first press keys.
[ "$reader" = "$here/accessibility_e2e.py" ] || command -v xdotool >/dev/null || { echo "skipped: xdotool is missing"; exit 77; }
"$python" -c 'import pyatspi' 2>/dev/null || { echo "skipped: python3-pyatspi is missing"; exit 77; }

source "$(dirname "$0")/e2e_tree.sh"

export PROGRAM=$program TREE=$tree READER=$reader LAUNCHER=$launcher PYTHON=$python
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 NO_AT_BRIDGE=0
set +e
timeout 150 xvfb-run -a -s "-screen 0 640x560x24" dbus-run-session -- bash -uo pipefail -c '
  "$LAUNCHER" --launch-immediately & launcher=$!
  pid=
  cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; kill "$launcher" 2>/dev/null; }
  trap cleanup EXIT
  bus_up() {
    dbus-send --session --print-reply --reply-timeout=1000 --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1
  }
  for _ in $(seq 100); do bus_up && break; sleep 0.1; done
  bus_up || { echo "skipped: the accessibility bus did not start"; exit 77; }

  cd "$TREE"
  "$PROGRAM" & pid=$!
  timeout 90 "$PYTHON" "$READER" "$TREE"; status=$?
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then echo "終了 did not end the program"; status=1; fi
  exit $status
'
status=$?
set -e
[ $status -eq 124 ] && echo "the check did not finish in time"
exit $status
