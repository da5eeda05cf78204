#!/usr/bin/env bash
# Starts the real program on a virtual X display, presses 検索 where the layout puts it, waits until the run
# has written its total row and the status bar is empty again, saves a screenshot; orders the rows by size
# (Ctrl+3), double-clicks the largest, waits for that subdirectory's search (two rows), saves a screenshot,
# and leaves with 終了.
# Usage: window_e2e.sh PROGRAM OUTPUT_DIR. Exits 77 (skipped) when the X tools are missing.
set -euo pipefail
program=$1 out=$2
for tool in xvfb-run xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
mkdir -p "$out"
source "$(dirname "$0")/e2e_tree.sh"

export PROGRAM=$program OUT=$out TREE=$tree
export QT_QPA_PLATFORM=xcb
timeout 120 xvfb-run -a -s "-screen 0 640x560x24" bash -euo pipefail -c '
  # Positions at 96 DPI: 検索 and 終了 at their centres; inside the grid, cells of column 1 on row 5 (the
  # total row of a three-subdirectory run) and the status panel.
  search=(410 426) exit=(410 462) first_row=(100 32)
  total_row=250x8+45+93 status_panel=88x16+4+492 third_row=250x8+45+61
  # Standard deviation of a region: 0 when it is a single colour.
  spread() { convert "$1" -crop "$2" +repage -colorspace gray -format "%[fx:standard_deviation]" info:; }

  cd "$TREE"
  "$PROGRAM" & pid=$!
  wid=$(timeout 30 xdotool search --sync --name "Murako検索ツール" | head -n 1)
  import -window "$wid" "$OUT/window-before.png"
  [ "$(spread "$OUT/window-before.png" "$total_row")" = 0 ] || { echo "the total row is there before the run"; exit 1; }

  xdotool mousemove --window "$wid" "${search[@]}" click 1
  for _ in $(seq 100); do
    import -window "$wid" "$OUT/window.png"
    if [ "$(spread "$OUT/window.png" "$total_row")" != 0 ] && [ "$(spread "$OUT/window.png" "$status_panel")" = 0 ]; then
      finished=1; break
    fi
    sleep 0.1
  done
  [ "${finished:-0}" = 1 ] || { echo "the run did not finish: see $OUT/window.png"; exit 1; }
  xdotool getwindowname "$wid" >/dev/null

  # Every subdirectory holds 5 kb: the largest first is the first of them in listing order, above [Root Files].
  xdotool mousemove --window "$wid" "${first_row[@]}" click 1
  xdotool key ctrl+3
  sleep 0.3
  xdotool mousemove --window "$wid" "${first_row[@]}" click --repeat 2 --delay 80 1
  finished=0
  for _ in $(seq 100); do
    import -window "$wid" "$OUT/window-drilled.png"
    if [ "$(spread "$OUT/window-drilled.png" "$third_row")" = 0 ] && [ "$(spread "$OUT/window-drilled.png" "$status_panel")" = 0 ]; then
      finished=1; break
    fi
    sleep 0.1
  done
  [ "${finished:-0}" = 1 ] || { echo "the double click searched nothing: see $OUT/window-drilled.png"; exit 1; }

  xdotool mousemove --window "$wid" "${exit[@]}" click 1
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then echo "終了 did not end the program"; kill "$pid"; exit 1; fi
  wait "$pid"
'
echo "screenshots: $out/window.png $out/window-drilled.png"
