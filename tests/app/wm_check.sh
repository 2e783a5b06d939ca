#!/usr/bin/env bash
# The program under a real window manager: Xvfb at 1,024x768 with openbox, which keeps a 40-pixel
# task bar free at the bottom, driven by xdotool.
#  - The framed main window (title bar and borders included) lies on the work area and fills it.
#  - With the find dialog (which stays on top) open, "没找到" after a search and "确认保存该照片吗？"
#    after a capture come up above it and have the focus.
# Screenshots go to OUTDIR (NN-step.png). Exits 77 (skipped) when a tool is missing.
# Usage: wm_check.sh MIRESTAL_PROGRAM SOURCE_DIR OUTDIR
set -euo pipefail
PROGRAM=$1 SRC=$2 OUT=$3
for tool in Xvfb openbox xdotool xprop xwininfo import; do
  command -v "$tool" > /dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
rm -rf "$OUT" && mkdir -p "$OUT/home/.config/openbox" "$OUT/runtime" && chmod 700 "$OUT/runtime"
export HOME=$OUT/home XDG_RUNTIME_DIR=$OUT/runtime XDG_CONFIG_HOME=$OUT/home/.config
unset QT_QPA_PLATFORM
# The task bar: openbox's margins make the work area 1024x728.
sed 's|<bottom>0</bottom>|<bottom>40</bottom>|' /etc/xdg/openbox/rc.xml > "$HOME/.config/openbox/rc.xml"
grep -q '<bottom>40</bottom>' "$HOME/.config/openbox/rc.xml"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  wait 2> /dev/null || true
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  import -window root "$OUT/failure.png" 2> /dev/null || true
  exit 1
}

exec 3> "$OUT/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$OUT/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 300); do [ -s "$OUT/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$OUT/display")
openbox > "$OUT/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 300); do xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q 'window id' && break; sleep 0.1; done

cp "$SRC/examples/roster.dbf" "$OUT/roster.dbf"
MIRESTAL_CAMERA=testcard QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0 \
  "$PROGRAM" > "$OUT/mirestal.log" 2>&1 &
pids+=($!)
app=$!

name_of() { xprop -id "$1" _NET_WM_NAME 2> /dev/null | sed -n 's/^[^"]*"\(.*\)"$/\1/p'; }
# The top window in openbox's stacking order.
top_window() { xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/.*, //' | xargs printf '%d\n'; }
shot() { import -window root "$OUT/$1.png"; }
# Waits (up to $2 tenths of a second, 300 if not given) until the active window's title starts
# with $1; prints its id.
wait_active() {
  local win=""
  for _ in $(seq "${2:-300}"); do
    win=$(xdotool getactivewindow 2> /dev/null || true)
    if [ -n "$win" ] && [[ "$(name_of "$win")" == "$1"* ]]; then echo "$win"; return 0; fi
    sleep 0.1
  done
  echo "${win:-none}"
  return 1
}
# Waits (up to 30 s) until window $1 is active (or, with "!", until another one is).
wait_window() {
  for _ in $(seq 300); do
    local win
    win=$(xdotool getactivewindow 2> /dev/null || true)
    if [ "$1" = "!" ]; then [ -n "$win" ] && [ "$win" != "$2" ] && return 0
    elif [ "$win" = "$1" ]; then return 0; fi
    sleep 0.1
  done
  return 1
}
# The message box with title $1 has the focus and is above every other window.
expect_on_top() {
  local win
  win=$(wait_active "$1") || { shot "$2"; fail "\"$1\" has no focus (active: $(name_of "$win"))"; }
  sleep 0.3
  shot "$2"
  [ "$(top_window)" = "$win" ] || fail "\"$1\" is not the top window (top: $(name_of "$(top_window)"))"
  echo "ok: \"$1\" is on top and has the focus"
  box=$win
}

main=$(wait_active "Mirestal" 900) || fail "the main window did not come up"
# The window is fitted once framed; let the window manager settle (up to 20 s).
geometry() {
  read -r wx wy ww wh _ < <(xprop -root _NET_WORKAREA | sed 's/.*= //; s/,//g')
  read -r left right top bottom _ < <(xprop -id "$main" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  x=$(xwininfo -id "$main" | sed -n 's/.*Absolute upper-left X: *//p')
  y=$(xwininfo -id "$main" | sed -n 's/.*Absolute upper-left Y: *//p')
  w=$(xwininfo -id "$main" | sed -n 's/.*Width: *//p')
  h=$(xwininfo -id "$main" | sed -n 's/.*Height: *//p')
  fx=$((x - left)) fy=$((y - top)) fw=$((w + left + right)) fh=$((h + top + bottom))
}
sleep 1
for _ in $(seq 40); do
  geometry
  [ "$fx" -eq "$wx" ] && [ "$fy" -eq "$wy" ] && [ "$fw" -eq "$ww" ] && [ "$fh" -eq "$wh" ] && break
  sleep 0.5
done
shot 01-main-window
echo "work area ${ww}x${wh}+${wx}+${wy}; framed window ${fw}x${fh}+${fx}+${fy} (inside ${w}x${h}, frame $left $right $top $bottom)"
[ "$top" -gt 0 ] || fail "the window has no title bar"
[ "$fx" -ge "$wx" ] && [ "$fy" -ge "$wy" ] && [ $((fx + fw)) -le $((wx + ww)) ] &&
  [ $((fy + fh)) -le $((wy + wh)) ] || fail "the framed window does not lie on the work area"
[ "$fw" -eq "$ww" ] && [ "$fh" -eq "$wh" ] || fail "the framed window does not fill the work area"
echo "ok: the framed window fills the work area"

# Open the roster: "打开dbf文件" has the focus at start.
xdotool key space
wait_window ! "$main" || fail "the open dialog did not come up"
sleep 0.5
xdotool type --delay 20 "$OUT/roster.dbf"
xdotool key Return
wait_window "$main" || fail "the open dialog did not close"
sleep 1
shot 02-roster-open

# Find with a text no student has: the dialog stays on top, "没找到" comes up above it.
xdotool key ctrl+f
find=$(wait_active "查找") || fail "the find dialog did not come up"
xdotool type --delay 20 "zzzz"
xdotool key Return
expect_on_top "提示" 03-not-found
xdotool key Return
wait_active "查找" > /dev/null || fail "the find dialog lost the focus after the message"

# Capture from the main window while the find dialog stays open: the question comes above it.
xdotool windowactivate --sync "$main" 2> /dev/null || true
wait_window "$main" || fail "the main window cannot be activated"
[ "$(top_window)" = "$find" ] || fail "the find dialog does not stay on top of the main window"
xdotool key alt+k
expect_on_top "提示" 04-confirm-save
xdotool key Escape
wait_window ! "$box" || fail "the question did not close"
echo "screenshots in $OUT"
