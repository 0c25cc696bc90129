#!/bin/sh
# Takes screenshots of tavwin and tav95 on a virtual X server, for a look by eye:
#   tests/frontend/take_screenshots.sh BUILD_DIR [OUTPUT_DIR [INSTALL_PREFIX]]
# Needs xvfb-run, xdotool and twm (with xfonts-base for its title bars). The pictures go to
# OUTPUT_DIR (default /tmp/tav-screenshots), never into the source tree.
#
# With INSTALL_PREFIX (a directory of its own, emptied first) the build is also installed
# there with cmake --install, made read-only, and tavwin is run from it (as the user "nobody"
# when run by root, to whom a read-only directory is still writable): an input with an error,
# the line of the error selected, Window > Cascade with the log window in front, the font
# dialog, the About box, the chi-squared tool's longest message, an example run and the
# command reference with its contents and search. Without it: a run whose report shows as it
# ends, the save question with "Don't ask again", the Window menu, and a long run's progress in
# the status bar past iteration 10,000 and its Cancel. working-folder.txt lists what the run left behind. Every plot of ten
# examples is taken too (plot-EXAMPLE-N.png).
set -e
if [ -z "$TAV_SCREENSHOT_INNER" ]; then
  [ -n "$1" ] || { echo "usage: $0 BUILD_DIR [OUTPUT_DIR [INSTALL_PREFIX]]" >&2; exit 2; }
  build=$(cd "$1" && pwd)
  out=${2:-/tmp/tav-screenshots}
  mkdir -p "$out"
  out=$(cd "$out" && pwd)
  prefix=""
  if [ -n "$3" ]; then
    [ -e "$3" ] && chmod -R u+w "$3" && rm -rf "$3"
    cmake --install "$build" --prefix "$3" >/dev/null
    prefix=$(cd "$3" && pwd)
    chmod -R a-w "$prefix"
  fi
  TAV_SCREENSHOT_INNER=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" "$out" "$prefix"
fi
set +e
B=$1
S=$2
PREFIX=$3
G=$B/tests/frontend/screengrab
golden=$(cd "$(dirname "$0")/../golden/plots" && pwd)
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

# Run: the report shows without a click, the status bar says how long the run took. Then the
# output's GoTo menu, the windows tiled, and the next Run's save question.
focus_frame
xdotool key ctrl+r
sleep 3
"$G" "$S/3-output-after-run.png"
focus_frame
xdotool key alt+g
sleep 0.5
"$G" "$S/4-goto-menu.png"
xdotool key Escape
xdotool key alt+w; sleep 0.3; xdotool key t; sleep 0.5
"$G" "$S/5-tiled.png"
xdotool key alt+w; sleep 0.5
"$G" "$S/5b-window-menu.png"
xdotool key 3; sleep 0.5
focus_frame
xdotool key ctrl+r; sleep 1
"$G" "$S/5c-save-question.png"
xdotool key Escape; sleep 0.5
kill $P

# A long run: the status bar follows it past iteration 10,000 beside the engine's own progress
# dialog; its Cancel stops the run.
awk 'BEGIN { srand(7); print "* A slow latent class model: eight items, four classes"
  print "lat 1"; print "man 8"; print "dim 4 3 3 3 3 3 3 3 3"; print "lab X A B C D E F G H"
  print "mod X A|X B|X C|X D|X E|X F|X G|X H|X"; print "ite 40000"; print "cri 0.0000000000001"
  printf "dat ["; for (i = 0; i < 6561; i++) { if (i % 20 == 0) printf "\n"; printf " %d", int(rand() * 6) }
  print " ]" }' > "$work/slow.inp"
"$B/bin/tavwin" "$work/slow.inp" & P=$!
sleep 2
W=$(xdotool search --name "TAV for Windows" | head -1)
xdotool windowmove "$W" 0 20
xdotool windowsize "$W" 800 600
focus_frame
xdotool key ctrl+r
sleep 15
"$G" "$S/5d-progress-past-10000.png"
# The Cancel button at the right end of the status bar (the pointer placed in the frame's own
# coordinates: the window manager's title bar lies outside them).
eval "$(xdotool getwindowgeometry --shell "$W")"
xdotool mousemove --window "$W" $((WIDTH - 40)) $((HEIGHT - 14)); sleep 0.3
xdotool click 1
sleep 2
"$G" "$S/5e-cancelled.png"
kill $P

# The engine's progress dialog while it waits for its input.
rm -f "$work/fifo.inp"; mkfifo "$work/fifo.inp"
"$B/bin/tav95" "$work/fifo.inp" "$work/e.out" "$work/" "$work/e.log" -log & E=$!
sleep 2
"$G" "$S/6-progress-dialog.png"
# (An engine that has refused the pipe is not waited for.)
timeout 5 sh -c "printf 'man 2\\ndim 2 2\\nlab A B\\nmod {A,B}\\ndat [1 2 3 4]\\n' > '$work/fifo.inp'"
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

# The plots of examples: each run from tavwin, then Tools > Plots... and every plot in turn
# (the plot list has the focus; Down shows the next plot).
for example in lcthree lcorder haireye smoke assoc mca rcmental discrete compete mixhaz; do
  mkdir -p "$work/plots"
  cp "$B"/bin/examples/"$example".* "$work/plots/"
  plots=$(grep -c '^plot ' "$golden/$example.txt")
  "$B/bin/tavwin" "$work/plots/$example.inp" & P=$!
  sleep 2
  W=$(xdotool search --name "TAV for Windows" | head -1)
  focus_frame
  xdotool key ctrl+r; sleep 5
  focus_frame
  xdotool key alt+t; sleep 0.4; xdotool key l; sleep 1.5
  V=$(xdotool search --name "^Plots$" | head -1)
  xdotool windowmove "$V" 100 60; sleep 0.5
  xdotool windowactivate --sync "$V" 2>/dev/null; sleep 0.3
  i=1
  while [ "$i" -le "$plots" ]; do
    "$G" "$S/plot-$example-$i.png"
    xdotool key Down; sleep 0.8
    i=$((i + 1))
  done
  kill $P
  wait $P 2>/dev/null
done

if [ -n "$PREFIX" ]; then
  # tavwin from the read-only installation, with a home of its own.
  chmod 755 "$work"
  cp "$XAUTHORITY" "$work/xauth"
  chmod 644 "$work/xauth"
  mkdir -p "$work/home"
  cat > "$work/home/bad.inp" <<'INP'
* Two manifest variables, one of them mislabelled
man 2
dim 2 2
lab A B
mod {A,C}   * C is not a label
dat [ 32 18 12 38 ]
INP
  as_user=""
  if [ "$(id -u)" -eq 0 ]; then
    chown -R 65534:65534 "$work/home"
    as_user="setpriv --reuid=65534 --regid=65534 --clear-groups"
  fi
  focus_home() {
    xdotool mousemove 450 400
    sleep 0.2
    xdotool windowfocus --sync "$W" 2>/dev/null
    sleep 0.4
  }
  (exec $as_user env HOME="$work/home" XAUTHORITY="$work/xauth" DISPLAY="$DISPLAY" \
     XDG_CONFIG_HOME="$work/home/.config" "$PREFIX/bin/tavwin" "$work/home/bad.inp" \
     > "$work/tavwin.err" 2>&1) & T=$!
  sleep 3
  W=$(xdotool search --name "TAV for Windows" | head -1)
  xdotool windowmove "$W" 0 20
  xdotool windowsize "$W" 900 650
  focus_home
  "$G" "$S/11-editor-highlighting.png"
  # Run: the engine's error box, then the line of the error in the editor.
  xdotool key ctrl+r; sleep 3
  "$G" "$S/12-engine-error-box.png"
  xdotool key Return; sleep 2
  focus_home
  "$G" "$S/13-error-line-selected.png"
  # The log window in front (a click on its title bar), then Window > Cascade.
  xdotool mousemove 300 51 click 1; sleep 0.8
  focus_home
  xdotool key alt+w; sleep 0.5; xdotool key c; sleep 0.8
  "$G" "$S/14-cascade.png"
  focus_home
  xdotool key alt+t; sleep 0.4; xdotool key p; sleep 0.4; xdotool key f; sleep 1.5
  "$G" "$S/15-font-dialog.png"
  xdotool key Escape; sleep 0.5
  focus_home
  xdotool key alt+h; sleep 0.4; xdotool key a; sleep 1.5
  "$G" "$S/16-about.png"
  xdotool key Return; sleep 0.5
  focus_home
  xdotool key alt+t; sleep 0.4; xdotool key c; sleep 1
  xdotool type --delay 30 "3.841"; xdotool key Tab; xdotool type --delay 30 "one"
  xdotool key Return; sleep 0.5
  "$G" "$S/17-chisquared-longest-message.png"
  xdotool key Escape; sleep 0.5
  # The first example, from the installation, run in the working folder.
  xdotool mousemove 420 79 click 1; sleep 0.8
  focus_home
  xdotool key ctrl+n; sleep 0.8
  xdotool key F1; sleep 0.8; xdotool key Down; sleep 0.5; xdotool key Right; sleep 0.8
  xdotool key Right; sleep 0.8; xdotool key Return; sleep 1.5
  "$G" "$S/18-example-loaded.png"
  focus_home
  xdotool key ctrl+r; sleep 5
  xdotool mousemove 420 51 click 1; sleep 1.5
  "$G" "$S/19-read-only-install-report.png"
  focus_home
  xdotool key alt+h; sleep 0.4; xdotool key c; sleep 1.5
  "$G" "$S/20-command-reference.png"
  # Its search, from Ctrl+F.
  xdotool key ctrl+f; sleep 0.5; xdotool type --delay 30 "random starts"; xdotool key Return
  sleep 0.8
  "$G" "$S/21-command-reference-search.png"
  {
    echo "working folder:"; ls -la "$work/home/Documents/TAV"
    echo "temporary directories while running:"; ls -d "${TMPDIR:-/tmp}"/tavwin-* 2>&1
  } > "$S/working-folder.txt" 2>&1
  kill $T
  wait $T
  echo "temporary directories after the end:" >> "$S/working-folder.txt"
  ls -d "${TMPDIR:-/tmp}"/tavwin-* >> "$S/working-folder.txt" 2>&1
  cp "$work/tavwin.err" "$S/tavwin-stderr.txt"
fi
kill %1 2>/dev/null
rm -rf "$work"
ls "$S"
