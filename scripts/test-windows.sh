#!/usr/bin/env bash
# Cross-builds the libraries without Qt (platform, table, xls, capture) and mirestal-cli for
# 64-bit Windows with Debian's MinGW-w64 and runs their tests under wine.
#
# Everything comes from Debian: the compiler and wine as packages, libjpeg-turbo, zlib, libzip,
# libpng and dlib from Debian's source packages (fetched with apt-get source through a private deb-src list, so the system's
# apt configuration is not changed), GoogleTest from /usr/src/googletest.
#
#   MIRESTAL_SKIP_INSTALL=1   skip the package step
#   MIRESTAL_WIN_BUILD=DIR    build folder (default build-win); the target libraries are kept in
#                             DIR/deps and built only once
#   MIRESTAL_WIN_TESTS=REGEX  run only the matching tests
#   MIRESTAL_WIN_DEPS_ONLY=1  build only the target libraries (for scripts/test-windows-app.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD
BUILD=$(realpath -m "${MIRESTAL_WIN_BUILD:-build-win}")
DEPS=$BUILD/deps
PREFIX=$DEPS/prefix
TOOLCHAIN=$SRC/cmake/mingw-w64-x86_64.cmake
JOBS=${MIRESTAL_JOBS:-2}
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

if [ "${MIRESTAL_SKIP_INSTALL:-0}" != 1 ]; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends build-essential cmake ninja-build \
    g++-mingw-w64-x86-64-posix wine64 nasm dpkg-dev libgtest-dev googletest bc \
    libjpeg-turbo-progs
fi

start=$(date +%s)
mkdir -p "$DEPS"

# --- Debian source packages: libjpeg-turbo, zlib and libzip for the target -------------------
APT=$DEPS/apt
APT_OPTS=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$APT/sources.list.d"
          -o "Dir::State::Lists=$APT/lists" -o "Dir::Cache=$APT/cache")
# Unpacks Debian's source package $1 (with its patches) into $DEPS/$1-src/tree; with a second
# argument "orig", only its main upstream tarball (no patches, no extra component tarballs).
fetch_source() {
  if [ ! -f "$APT/lists/.updated" ]; then
    mkdir -p "$APT/sources.list.d" "$APT/lists/partial" "$APT/cache"
    # The archive the system installs from, as a source list of our own.
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -e "$f" ] || continue
      grep -q '^Types:.*deb' "$f" || continue
      sed 's/^Types:.*/Types: deb-src/' "$f" > "$APT/sources.list.d/$(basename "$f")"
    done
    if [ -f /etc/apt/sources.list ]; then
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > "$APT/sources.list.d/system.list"
    fi
    apt-get "${APT_OPTS[@]}" update
    touch "$APT/lists/.updated"
  fi
  rm -rf "$DEPS/$1-src" && mkdir -p "$DEPS/$1-src"
  # The newest version first; a mirror that lacks an update's sources gets the release's.
  (cd "$DEPS/$1-src" &&
     { apt-get "${APT_OPTS[@]}" source --download-only "$1" ||
       { rm -f ./*; apt-get "${APT_OPTS[@]}" source --download-only "$1/$(. /etc/os-release &&
                                                                           echo "$VERSION_CODENAME")"; }; } &&
     if [ "${2:-}" = orig ]; then
       mkdir tree && tar -xf "$(ls "$1"_*.orig.tar.* | grep -v 'orig-')" -C tree --strip-components=1
     else
       dpkg-source -x "$1"_*.dsc tree
     fi)
}
CROSS=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release
       -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=OFF)

if [ ! -f "$PREFIX/lib/libjpeg.a" ]; then
  fetch_source libjpeg-turbo
  cmake -S "$DEPS/libjpeg-turbo-src/tree" -B "$DEPS/libjpeg-build" "${CROSS[@]}" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DCMAKE_ASM_NASM_COMPILER=nasm
  cmake --build "$DEPS/libjpeg-build" -j "$JOBS" --target jpeg-static
  # Only the library and its headers: the command-line tools are not needed for the target.
  install -d "$PREFIX/lib" "$PREFIX/include"
  install -m 644 "$DEPS/libjpeg-build/libjpeg.a" "$PREFIX/lib/"
  install -m 644 "$DEPS/libjpeg-turbo-src/tree/jpeglib.h" "$DEPS/libjpeg-turbo-src/tree/jmorecfg.h" \
    "$DEPS/libjpeg-turbo-src/tree/jerror.h" "$DEPS/libjpeg-build/jconfig.h" "$PREFIX/include/"
fi
if [ ! -f "$PREFIX/lib/libz.a" ]; then
  fetch_source zlib
  cmake -S "$DEPS/zlib-src/tree" -B "$DEPS/zlib-build" "${CROSS[@]}"
  cmake --build "$DEPS/zlib-build" -j "$JOBS" --target zlibstatic
  install -d "$PREFIX/lib" "$PREFIX/include"
  install -m 644 "$DEPS/zlib-build/libzlibstatic.a" "$PREFIX/lib/libz.a"
  install -m 644 "$DEPS/zlib-src/tree/zlib.h" "$DEPS/zlib-build/zconf.h" "$PREFIX/include/"
fi
if [ ! -f "$PREFIX/lib/libzip.a" ]; then
  fetch_source libzip
  cmake -S "$DEPS/libzip-src/tree" -B "$DEPS/libzip-build" "${CROSS[@]}" \
    -DZLIB_LIBRARY="$PREFIX/lib/libz.a" -DZLIB_INCLUDE_DIR="$PREFIX/include" \
    -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_OPENSSL=OFF \
    -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_COMMONCRYPTO=OFF -DENABLE_WINDOWS_CRYPTO=OFF \
    -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
  cmake --build "$DEPS/libzip-build" -j "$JOBS" --target install
fi

if [ ! -f "$PREFIX/lib/libpng16.a" ]; then
  fetch_source libpng1.6
  cmake -S "$DEPS/libpng1.6-src/tree" -B "$DEPS/libpng-build" "${CROSS[@]}" \
    -DZLIB_LIBRARY="$PREFIX/lib/libz.a" -DZLIB_INCLUDE_DIR="$PREFIX/include" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DSKIP_INSTALL_PROGRAMS=ON
  cmake --build "$DEPS/libpng-build" -j "$JOBS" --target install
fi
# dlib for the face module: only its own sources (no BLAS, LAPACK, image libraries or GUI); the
# detector itself is header code compiled into Mirestal. The source package's second tarball
# holds 200 MB of trained models the detector does not use (its filters are in the sources),
# so only the main tarball is unpacked; Debian's one patch changes only the shared library's
# SONAME.
if [ ! -f "$PREFIX/lib/cmake/dlib/dlibConfig.cmake" ]; then
  fetch_source dlib orig
  cmake -S "$DEPS/dlib-src/tree/dlib" -B "$DEPS/dlib-build" "${CROSS[@]}" \
    -DDLIB_NO_GUI_SUPPORT=ON -DDLIB_USE_BLAS=OFF -DDLIB_USE_LAPACK=OFF -DDLIB_USE_CUDA=OFF \
    -DDLIB_PNG_SUPPORT=OFF -DDLIB_JPEG_SUPPORT=OFF -DDLIB_GIF_SUPPORT=OFF -DDLIB_WEBP_SUPPORT=OFF \
    -DDLIB_USE_FFTW=OFF -DDLIB_USE_MKL_FFT=OFF -DDLIB_LINK_WITH_SQLITE3=OFF
  cmake --build "$DEPS/dlib-build" -j "$JOBS" --target install
fi

# --- GoogleTest for the target, from Debian's googletest source tree ----------------------------
if [ ! -f "$PREFIX/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$DEPS/gtest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  cmake --build "$DEPS/gtest-build" -j "$JOBS" --target install
fi
deps_done=$(date +%s)
if [ "${MIRESTAL_WIN_DEPS_ONLY:-0}" = 1 ]; then
  echo "Target libraries: $((deps_done - start)) s, in $PREFIX"
  exit 0
fi

# --- wine: the build runs a generator through it, the tests run under it -------------------------
export WINEPREFIX=$BUILD/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export PATH=/usr/lib/wine:$PATH
# The server and the prefix first, with their output kept away from CTest's pipes: a wine
# started by CTest would otherwise create them and keep the pipes open.
wineserver -p > "$BUILD/wineserver.log" 2>&1 || true  # fails only when one is running already
wine64 wineboot > "$BUILD/wineboot.log" 2>&1
# Windows without a display: the null graphics driver (the capture test makes a host window).
# The desktop process that wineboot started still has the driver it found first, so the server is
# started again: windows made by the tests then always get the null driver.
wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >> "$BUILD/wineboot.log" 2>&1
wineserver -k > /dev/null 2>&1 || true
wineserver -w > /dev/null 2>&1 || true
wineserver -p >> "$BUILD/wineserver.log" 2>&1
wine64 wineboot >> "$BUILD/wineboot.log" 2>&1
trap 'wineserver -k > /dev/null 2>&1 || true' EXIT

# --- Mirestal ------------------------------------------------------------------------------------
# pkg-config answers for the target's libraries only.
export PKG_CONFIG_LIBDIR=$PREFIX/lib/pkgconfig PKG_CONFIG_SYSROOT_DIR=
LAUNCHER=()
if command -v ccache > /dev/null; then LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$SRC" -B "$BUILD/mirestal" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DMIRESTAL_WIN_PREFIX="$PREFIX" -DCMAKE_BUILD_TYPE=Release -DMIRESTAL_WERROR=ON \
  -DMIRESTAL_BUILD_GUI=OFF -DMIRESTAL_BUILD_BENCH=OFF "${LAUNCHER[@]}" \
  `# GCC 12 reports false -Wrestrict overlaps inside std::string at -O3 (GCC bug 105329)` \
  -DCMAKE_CXX_FLAGS=-Wno-restrict
cmake --build "$BUILD/mirestal" -j "$JOBS"
build_done=$(date +%s)

# --- Tests under wine ----------------------------------------------------------------------------
ctest --test-dir "$BUILD/mirestal" --output-on-failure -j "$JOBS" \
  ${MIRESTAL_WIN_TESTS:+-R "$MIRESTAL_WIN_TESTS"}
# A workbook written by the Windows command line, read by Debian's readers (they cannot run
# under wine, so the library tests that use them run on Linux only).
CLI=$BUILD/mirestal/tools/mirestal-cli/mirestal-cli.exe
rm -f "$BUILD/roster.xls"
wine64 "$CLI" export examples/roster.dbf "$BUILD/roster.xls" > "$BUILD/export.log" 2>&1
/usr/bin/python3 tests/xls/xls_dump.py "$BUILD/roster.xls" > "$BUILD/roster.xls.txt"
grep -q "^sheet" "$BUILD/roster.xls.txt"
echo "mirestal-cli.exe export: $(grep -c '^cell' "$BUILD/roster.xls.txt") cells read back"
tests_done=$(date +%s)

echo "Target libraries: $((deps_done - start)) s; cross build: $((build_done - deps_done)) s;" \
  "tests under wine: $((tests_done - build_done)) s"
echo "The command line for Windows: $CLI"
