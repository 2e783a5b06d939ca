#!/usr/bin/env bash
# Installs the packages, builds Mirestal and runs it on the sample roster.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${MIRESTAL_SKIP_INSTALL:-0}" != 1 ]; then
  bash scripts/install-deps.sh
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIRESTAL_BUILD_TESTS=OFF -DMIRESTAL_BUILD_BENCH=OFF
cmake --build build
./build/tools/mirestal-cli/mirestal-cli info examples/roster.dbf
./build/tools/mirestal-cli/mirestal-cli dump examples/roster.dbf
