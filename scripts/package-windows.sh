#!/usr/bin/env bash
# The release package for Windows: dist/Mirestal-<version>-win64.zip with Mirestal.exe,
# mirestal-cli.exe, the sample roster (examples\roster.dbf) and the usage document, and its
# SHA-256 beside it (dist/Mirestal-<version>-win64.zip.sha256). Unzipped anywhere, the folder is
# the program folder: the photos go to 照片\ beside Mirestal.exe.
#
# Builds what is missing with MIRESTAL_WIN_NO_TESTS=1 bash scripts/test-windows-app.sh (which
# builds Qt for Windows once per machine); the same variables apply (MIRESTAL_WIN_BUILD,
# MIRESTAL_SKIP_INSTALL, MIRESTAL_QT_WIN_PREFIX).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=$(realpath -m "${MIRESTAL_WIN_BUILD:-build-win}")
VERSION=$(sed -n 's/^project(Mirestal VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
NAME=Mirestal-$VERSION-win64

EXE=$BUILD/app/app/Mirestal.exe
CLI=$BUILD/app/tools/mirestal-cli/mirestal-cli.exe
if [ "${MIRESTAL_PACKAGE_REBUILD:-1}" = 1 ] || [ ! -f "$EXE" ] || [ ! -f "$CLI" ]; then
  MIRESTAL_WIN_NO_TESTS=1 bash scripts/test-windows-app.sh
fi

STAGE=$BUILD/package/$NAME
rm -rf "$BUILD/package" && mkdir -p "$STAGE/examples"
install -m 644 "$EXE" "$CLI" "$STAGE/"
install -m 644 examples/roster.dbf "$STAGE/examples/"
install -m 644 app/usage.html "$STAGE/usage.html"
mkdir -p dist
rm -f "dist/$NAME.zip" "dist/$NAME.zip.sha256"
# Fixed times and order, so the same build gives the same zip.
find "$STAGE" -exec touch -d "@${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}" {} +
(cd "$BUILD/package" && find "$NAME" -print | LC_ALL=C sort | zip -X -9 -q "$OLDPWD/dist/$NAME.zip" -@)
(cd dist && sha256sum "$NAME.zip" > "$NAME.zip.sha256")
echo "dist/$NAME.zip: $(stat -c %s "dist/$NAME.zip") bytes"
cat "dist/$NAME.zip.sha256"
