#!/bin/sh
# Takes screenshots of tavwin and tav95 on a virtual X server, for a look by eye:
#   tests/frontend/take_screenshots.sh BUILD_DIR [OUTPUT_DIR]
# Needs xvfb-run, xdotool and twm (with xfonts-base for its title bars). The pictures go to
# OUTPUT_DIR (default /tmp/tav-screenshots), never into the source tree.
set -e
if [ -z "$TAV_SCREENSHOT_INNER" ]; then
  [ -n "$1" ] || { echo "usage: $0 BUILD_DIR [OUTPUT_DIR]" >&2; exit 2; }
  build=$(cd "$1" && pwd)
  out=${2:-/tmp/tav-screenshots}
  mkdir -p "$out"
  out=$(cd "$out" && pwd)
  TAV_SCREENSHOT_INNER=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" "$out"
fi
set +e
B=$1
S=$2
G=$B/tests/frontend/screengrab
work=$(mktemp -d)
export XDG_CONFIG_HOME=$work/config
cat > "$work/twmrc" <<'RC'
TitleFont "fixed"
ResizeFont "fixed"
MenuFont "fixed"
IconFont "fixed"
IconManagerFont "fixed"
RandomPlacement
NoGrabServer
DecorateTransients
RC
twm -f "$work/twmrc" >/dev/null 2>&1 &
sleep 1
cd "$work"

focus_frame() {
  xdotool windowactivate --sync "$W" 2>/dev/null
  xdotool windowfocus --sync "$W" 2>/dev/null
  sleep 0.3
}

"$B/bin/tavwin" & P=$!
sleep 2
W=$(xdotool search --name "TAV for Windows" | head -1)
xdotool windowmove "$W" 0 20
focus_frame
for line in "man 2" "dim 2 2" "lab A B" "mod {A,B}" "dat [ 32 18 12 38 ]"; do
  xdotool type --delay 20 "$line"
  xdotool key Return
done
sleep 0.5
"$G" "$S/1-frame.png"

# The chi-squared tool: 3.841 with 1 degree of freedom, then a comma decimal separator.
xdotool key alt+t; sleep 0.5; xdotool key c; sleep 1
xdotool type --delay 30 "3.841"; xdotool key Tab; xdotool type --delay 30 "1"; xdotool key Return
sleep 0.5
"$G" "$S/2-chisquared.png"
xdotool key shift+Tab ctrl+a; xdotool type "3,841"; xdotool key Return
sleep 0.5
"$G" "$S/2b-chisquared-comma.png"
xdotool key Escape; sleep 0.5

# Run, then look at the output and its GoTo menu.
focus_frame
xdotool key ctrl+r
sleep 3
focus_frame
xdotool key ctrl+Tab
sleep 1
"$G" "$S/3-output-after-run.png"
xdotool key alt+g
sleep 0.5
"$G" "$S/4-goto-menu.png"
xdotool key Escape
xdotool key alt+w; sleep 0.3; xdotool key t; sleep 0.5
"$G" "$S/5-tiled.png"
kill $P

# The engine's progress dialog while it waits for its input.
rm -f "$work/fifo.inp"; mkfifo "$work/fifo.inp"
"$B/bin/tav95" "$work/fifo.inp" "$work/e.out" "$work/" "$work/e.log" -log & E=$!
sleep 2
"$G" "$S/6-progress-dialog.png"
printf 'man 2\ndim 2 2\nlab A B\nmod {A,B}\ndat [1 2 3 4]\n' > "$work/fifo.inp"
sleep 2; kill $E 2>/dev/null

# Window mode: the log window, its closing question and, after "No", the finished window.
printf 'man 2\ndim 2 2\nlab A B\nmod {A,B}\ndat [1 2 3 4]\n' > "$work/plain.inp"
"$B/bin/tav95" "$work/plain.inp" "$work/plain.out" & E=$!
sleep 2
"$G" "$S/7-log-window-question.png"
xdotool key n
sleep 1
"$G" "$S/8-log-window-finished.png"
kill $E 2>/dev/null

# An error box.
"$B/bin/tav95" "$work/missing.inp" "$work/x.out" "$work/" "$work/x.log" -log & E=$!
sleep 2
"$G" "$S/9-error-box.png"
kill $E 2>/dev/null
kill %1 2>/dev/null
rm -rf "$work"
ls "$S"
