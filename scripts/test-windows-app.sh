#!/usr/bin/env bash
# Builds the whole program for 64-bit Windows (Mirestal.exe, mirestal-cli.exe, mirestal-tour.exe
# and the tests) against Qt cross-built from Debian's qt6-base source (scripts/build-qt-windows.sh,
# once per machine), and tries it under wine:
#   - the tests on Qt's offscreen platform (the window tests among them);
#   - the tour on the windows platform plugin, whose screenshots land in DIR/tour (Chinese glyphs
#     through a CJK font of Debian's, mapped to SimSun in the wine prefix's font substitutes);
#   - Mirestal.exe on a virtual X display with the windows platform and the test card: started
#     from another working folder, main window shown (start-up time), screenshot, Alt+F4, exit 0.
#
#   MIRESTAL_SKIP_INSTALL=1      skip the package step
#   MIRESTAL_WIN_BUILD=DIR       build folder (default build-win); the target libraries are shared
#                                with scripts/test-windows.sh in DIR/deps, the program is in DIR/app
#   MIRESTAL_QT_WIN_PREFIX=DIR   where Qt for Windows is kept (see scripts/build-qt-windows.sh)
#   MIRESTAL_WIN_TESTS=REGEX     run only the matching tests
#   MIRESTAL_WIN_NO_TESTS=1      build only
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD
BUILD=$(realpath -m "${MIRESTAL_WIN_BUILD:-build-win}")
JOBS=${MIRESTAL_JOBS:-2}
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

if [ "${MIRESTAL_SKIP_INSTALL:-0}" != 1 ]; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends build-essential cmake ninja-build \
    g++-mingw-w64-x86-64-posix wine64 nasm dpkg-dev libgtest-dev googletest bc \
    libjpeg-turbo-progs qt6-base-dev-tools xvfb openbox xdotool x11-utils imagemagick \
    fonts-wqy-microhei zip locales
fi

start=$(date +%s)
# --- Target libraries and Qt ---------------------------------------------------------------------
MIRESTAL_SKIP_INSTALL=1 MIRESTAL_WIN_DEPS_ONLY=1 MIRESTAL_WIN_BUILD="$BUILD" bash scripts/test-windows.sh
PREFIX=$BUILD/deps/prefix
QT=$(bash scripts/build-qt-windows.sh | tail -n 1)
qt_done=$(date +%s)

# --- Mirestal ------------------------------------------------------------------------------------
export PKG_CONFIG_LIBDIR=$PREFIX/lib/pkgconfig PKG_CONFIG_SYSROOT_DIR=
LAUNCHER=()
if command -v ccache > /dev/null; then LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$SRC" -B "$BUILD/app" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-w64-x86_64.cmake" \
  -DMIRESTAL_WIN_PREFIX="$PREFIX;$QT" -DCMAKE_BUILD_TYPE=Release -DMIRESTAL_WERROR=ON \
  -DMIRESTAL_BUILD_GUI=ON -DMIRESTAL_BUILD_BENCH=OFF "${LAUNCHER[@]}" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  `# GCC 12 reports false -Wrestrict overlaps inside std::string at -O3 (GCC bug 105329), and` \
  `# std::optional<QString> as maybe uninitialised (GCC bug 80635)` \
  -DCMAKE_CXX_FLAGS="-Wno-restrict -Wno-maybe-uninitialized"
cmake --build "$BUILD/app" -j "$JOBS"
build_done=$(date +%s)
EXE=$BUILD/app/app/Mirestal.exe
TOUR_EXE=$BUILD/app/tools/mirestal-tour/mirestal-tour.exe
echo "Mirestal.exe: $(stat -c %s "$EXE") bytes; mirestal-tour.exe: $(stat -c %s "$TOUR_EXE") bytes"
# One file: no Qt, MinGW runtime or library DLL to put beside it, only the system's own.
if x86_64-w64-mingw32-objdump -p "$EXE" | grep 'DLL Name' |
     grep -iE 'qt6|libgcc|libstdc|libwinpthread|zlib|libjpeg|libzip|libpng|freetype'; then
  echo "Mirestal.exe needs a DLL beside it" >&2
  exit 1
fi
[ "${MIRESTAL_WIN_NO_TESTS:-0}" = 1 ] && exit 0

# A virtual X display for everything wine starts: the Qt programs on the offscreen platform still
# make the message windows of their event loop, which need wine's display driver.
DISPLAY_NO=${MIRESTAL_WIN_DISPLAY:-:77}
Xvfb "$DISPLAY_NO" -screen 0 1280x1024x24 -nolisten tcp > "$BUILD/xvfb.log" 2>&1 &
XVFB_PID=$!
WM_PID=""
export DISPLAY=$DISPLAY_NO
for _ in $(seq 50); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.1; done
cleanup() {
  wineserver -k > /dev/null 2>&1 || true
  kill $WM_PID "$XVFB_PID" 2> /dev/null || true
}
trap cleanup EXIT

# --- The wine prefix: Chinese Windows (code page 936) with a CJK font as SimSun ------------------
export WINEPREFIX=$BUILD/wineprefix-app WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# wine takes its Windows locale (and with it the ANSI code page) from the Unix one: zh_CN, compiled
# into a folder of the build's own so the system's locales stay as they are.
if [ ! -d "$BUILD/locale/zh_CN.UTF-8" ]; then
  mkdir -p "$BUILD/locale"
  localedef -i zh_CN -f UTF-8 "$BUILD/locale/zh_CN.UTF-8"
fi
export LOCPATH=$BUILD/locale LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export PATH=/usr/lib/wine:$PATH
wineserver -p > "$BUILD/wineserver-app.log" 2>&1 || true
wine64 wineboot > "$BUILD/wineboot-app.log" 2>&1
FONT=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
cp -f "$FONT" "$WINEPREFIX/drive_c/windows/Fonts/"
for name in SimSun 宋体 NSimSun; do
  wine64 reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v "$name" /d "WenQuanYi Micro Hei" /f >> "$BUILD/wineboot-app.log" 2>&1
done
wine64 reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts' \
  /v "WenQuanYi Micro Hei (TrueType)" /d wqy-microhei.ttc /f >> "$BUILD/wineboot-app.log" 2>&1

# --- Tests on the offscreen platform -------------------------------------------------------------
ctest --test-dir "$BUILD/app" --output-on-failure -j "$JOBS" ${MIRESTAL_WIN_TESTS:+-R "$MIRESTAL_WIN_TESTS"}
tests_done=$(date +%s)

# --- The tour ------------------------------------------------------------------------------------
rm -rf "$BUILD/tour"
# On the windows platform plugin (on the virtual display): Qt's offscreen plugin for Windows
# finds no fonts at all and would draw every character as a box.
WINEQT_QPA_PLATFORM=windows wine64 "$TOUR_EXE" "$BUILD/tour" examples/roster.dbf > "$BUILD/tour.log" 2>&1
ls "$BUILD/tour"/*.png > /dev/null
damaged=0
for photo in "$BUILD/tour/照片"/*.jpg; do
  # The tour cuts one photo short on purpose (the pale-red key cell); the others are as the
  # Linux program writes them: 300x400 baseline JFIF, quality 80.
  if ! djpeg "$photo" > /dev/null 2>&1; then
    damaged=$((damaged + 1))
    continue
  fi
  identify -format '%f %wx%h %Q %[interlace]\n' "$photo"
  [ "$(identify -format '%wx%h %Q %[interlace]' "$photo")" = "300x400 80 None" ]
done
[ "$damaged" = 1 ]
echo "Tour: $(ls "$BUILD/tour"/*.png | wc -l) screenshots in $BUILD/tour"

# --- Mirestal.exe on the virtual X display -------------------------------------------------------
openbox > "$BUILD/openbox.log" 2>&1 &
WM_PID=$!
# A folder of its own, started from another working folder: the program finds its folder itself.
RUN=$BUILD/run
rm -rf "$RUN" && mkdir -p "$RUN/examples"
cp "$EXE" "$RUN/" && cp examples/roster.dbf "$RUN/examples/"
# The first start of the prefix on a display (wine's own set-up) is not counted.
(cd / && timeout 60 wine64 cmd /c exit 0 > /dev/null 2>&1 || true)
t0=$(date +%s.%N)
(cd / && MIRESTAL_CAMERA=testcard wine64 "$RUN/Mirestal.exe" > "$BUILD/mirestal-exe.log" 2>&1; echo $? > "$BUILD/mirestal-exe.status") &
xdotool search --sync --onlyvisible --name '^Mirestal$' > "$BUILD/mirestal-window.id"
t1=$(date +%s.%N)
echo "Mirestal.exe under wine: main window shown after $(echo "$t1 - $t0" | bc) s"
WINDOW=$(head -n 1 "$BUILD/mirestal-window.id")
sleep 2
import -window root "$BUILD/mirestal-exe-1-start.png"
# The open button has the focus at start: the roster through the open dialog, whose folder is the
# program folder.
xdotool windowactivate --sync "$WINDOW" > /dev/null 2>&1 || true
xdotool key space
sleep 3
xdotool type --delay 40 'examples\roster.dbf'
xdotool key Return
sleep 3
import -window root "$BUILD/mirestal-exe-2-roster.png"
# A photo of the first student with the test card: Alt+K in the main window (the closed file
# dialog leaves no window active under wine), then Enter on the question whether to save it.
xdotool windowactivate --sync "$WINDOW" > /dev/null 2>&1 || true
xdotool key alt+k
timeout 20 xdotool search --sync --onlyvisible --name '^提示' > /dev/null
sleep 1
import -window root "$BUILD/mirestal-exe-3-capture.png"
xdotool key Return
for _ in $(seq 50); do ls "$RUN/照片"/*.jpg > /dev/null 2>&1 && break; sleep 0.2; done
sleep 1
import -window root "$BUILD/mirestal-exe-4-saved.png"
for photo in "$RUN/照片"/*.jpg; do
  echo "Mirestal.exe stored $(basename "$photo"): $(identify -format '%wx%h quality %Q interlace %[interlace]' "$photo")"
done
xdotool windowactivate --sync "$WINDOW" > /dev/null 2>&1 || true
xdotool key alt+F4
for _ in $(seq 100); do [ -f "$BUILD/mirestal-exe.status" ] && break; sleep 0.1; done
echo "Mirestal.exe ended with status $(cat "$BUILD/mirestal-exe.status")"
[ "$(cat "$BUILD/mirestal-exe.status")" = 0 ]
ls "$RUN/照片"/*.jpg > /dev/null
end=$(date +%s)

echo "Target libraries and Qt: $((qt_done - start)) s; cross build: $((build_done - qt_done)) s;" \
  "tests under wine: $((tests_done - build_done)) s; tour and Mirestal.exe: $((end - tests_done)) s"
echo "Mirestal.exe: $EXE"
