#!/usr/bin/env bash
# Installs the packages, builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# and warnings as errors (the benchmarks and the fuzz targets too, so none can rot; the benchmarks
# are not run, each fuzz target runs its corpus once), and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${MIRESTAL_SKIP_INSTALL:-0}" != 1 ]; then
  bash scripts/install-deps.sh
fi
BUILD=${MIRESTAL_TEST_BUILD:-build-test}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DMIRESTAL_WERROR=ON -DMIRESTAL_SANITIZE=ON -DMIRESTAL_BUILD_BENCH=ON
cmake --build "$BUILD"
mkdir -p "$BUILD/xdg-runtime" && chmod 700 "$BUILD/xdg-runtime"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
ctest --test-dir "$BUILD" --output-on-failure -j2
