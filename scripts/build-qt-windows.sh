#!/usr/bin/env bash
# Cross-builds Qt (Core, Gui, Widgets, Test, the windows and offscreen platform plugins, the
# Windows style and the JPEG image format) for 64-bit Windows from Debian's own qt6-base source
# package, static and release, with Debian's MinGW-w64. Debian's moc, rcc and uic
# (qt6-base-dev-tools) serve as the host tools, so only the target's libraries are compiled.
#
# The result is kept in a cache folder outside the clone, once per machine: a second clone, CI
# on the same machine or a later build finds it there and builds nothing.
#
#   MIRESTAL_QT_WIN_PREFIX=DIR  where Qt is installed (default
#                               /var/cache/mirestal/qt6-win64-<version of Debian's Qt>)
#   MIRESTAL_QT_WIN_KEEP=1      keep the build folder (DIR.build, about 2.6 GB) afterwards
#   MIRESTAL_JOBS=N             parallel jobs (default 2)
#
# Prints the prefix on its last line. Needs g++-mingw-w64-x86-64-posix, qt6-base-dev-tools,
# dpkg-dev, cmake and ninja-build (scripts/test-windows-app.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD
JOBS=${MIRESTAL_JOBS:-2}

# The target's Qt must be the version of the host tools it is built with.
HOST_VERSION=$(dpkg-query -W -f '${Version}' qt6-base-dev-tools)   # e.g. 6.4.2+dfsg-10
QT_VERSION=${HOST_VERSION%%+*}
QT_VERSION=${QT_VERSION%%-*}
PREFIX=$(realpath -m "${MIRESTAL_QT_WIN_PREFIX:-/var/cache/mirestal/qt6-win64-$QT_VERSION}")
STAMP=$PREFIX/.mirestal-qt-built

# Options: static release; no OpenGL, Vulkan, D-Bus, SQL, network, printing or XML; Qt's own
# copies of zlib, libpng, libjpeg, FreeType, HarfBuzz, PCRE2 and double-conversion, so nothing
# of the target has to be installed first. Debian's +dfsg source has no 3rdparty/wintab (tablet
# events off), and Debian's cross patch would build androiddeployqt. Direct2D stays on: Qt 6.4
# compiles its DirectWrite font database only with it, while the windows plugin uses that
# database whenever DirectWrite 3 is there.
OPTIONS=(-DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF -DQT_BUILD_MANUAL_TESTS=OFF
  -DFEATURE_pkg_config=OFF -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF
  -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_printsupport=OFF
  -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_zstd=OFF -DFEATURE_icu=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
  -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF
  -DFEATURE_system_doubleconversion=OFF -DFEATURE_tabletevent=OFF
  -DFEATURE_androiddeployqt=OFF -DFEATURE_gif=OFF)
# The stamp names the source version and the options: a change of either builds Qt again.
CONFIG_ID="qt6-base $HOST_VERSION, options $(printf '%s\n' "${OPTIONS[@]}" | sha256sum | cut -c1-16)"
if [ -f "$STAMP" ] && [ "$(head -n 1 "$STAMP")" = "$CONFIG_ID" ]; then
  echo "Qt for Windows already built: $(tail -n 1 "$STAMP")" >&2
  echo "$PREFIX"
  exit 0
fi
if [ -f "$STAMP" ]; then
  rm -rf "$PREFIX"  # a Qt of ours with other options
elif [ -n "$(ls -A "$PREFIX" 2> /dev/null)" ]; then
  echo "$PREFIX is not empty and holds no finished Qt build of this script; remove it first" >&2
  exit 1
fi

WORK=$PREFIX.build
APT=$WORK/apt
APT_OPTS=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$APT/sources.list.d"
          -o "Dir::State::Lists=$APT/lists" -o "Dir::Cache=$APT/cache")
mkdir -p "$APT/sources.list.d" "$APT/lists/partial" "$APT/cache"

# --- Debian's source package, through a private deb-src list (the system's apt untouched) -----
if [ ! -f "$WORK/src/tree/CMakeLists.txt" ]; then
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    grep -q '^Types:.*deb' "$f" || continue
    sed 's/^Types:.*/Types: deb-src/' "$f" > "$APT/sources.list.d/$(basename "$f")"
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > "$APT/sources.list.d/system.list"
  fi
  apt-get "${APT_OPTS[@]}" update
  rm -rf "$WORK/src" && mkdir -p "$WORK/src"
  # Exactly the version of the host tools; the release's when the mirror lacks an update's.
  (cd "$WORK/src" &&
     { apt-get "${APT_OPTS[@]}" source --download-only "qt6-base=$HOST_VERSION" ||
       { rm -f ./*; apt-get "${APT_OPTS[@]}" source --download-only "qt6-base/$(. /etc/os-release &&
                                                                            echo "$VERSION_CODENAME")"; }; } &&
     dpkg-source -x qt6-base_*.dsc tree)
fi

# --- Configure and build -------------------------------------------------------------------------
start=$(date +%s)
cmake -S "$WORK/src/tree" -B "$WORK/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-w64-x86_64.cmake" -DCMAKE_INSTALL_PREFIX="$PREFIX" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake "${OPTIONS[@]}"
cmake --build "$WORK/build" -j "$JOBS"
cmake --install "$WORK/build"
end=$(date +%s)

size=$(du -sh "$PREFIX" | cut -f1)
printf '%s\n%s\n' "$CONFIG_ID" \
  "qt6-base $HOST_VERSION for x86_64-w64-mingw32, built in $((end - start)) s, $size" > "$STAMP"
[ "${MIRESTAL_QT_WIN_KEEP:-0}" = 1 ] || rm -rf "$WORK"
echo "Qt for Windows: $(tail -n 1 "$STAMP")" >&2
echo "$PREFIX"
