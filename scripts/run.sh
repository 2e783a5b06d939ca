#!/usr/bin/env bash
# Installs the packages, builds Mirestal and shows its main window. With a display it starts
# Mirestal in the sample roster's folder (the open dialog starts in the program folder; the
# sample roster is examples/roster.dbf). Without a display it runs the headless tour of the main
# job and prints where its screenshots are.
#
# MIRESTAL_CAMERA=testcard picks the synthetic test card when no camera is attached.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${MIRESTAL_SKIP_INSTALL:-0}" != 1 ]; then
  bash scripts/install-deps.sh
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIRESTAL_BUILD_TESTS=OFF -DMIRESTAL_BUILD_BENCH=OFF
cmake --build build --target mirestal mirestal-tour mirestal-cli
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Starting Mirestal; open examples/roster.dbf with the button 打开dbf文件."
  echo "No camera attached? Run: MIRESTAL_CAMERA=testcard bash scripts/run.sh"
  cd examples
  exec ../build/app/mirestal
fi
OUT=${MIRESTAL_TOUR_DIR:-$PWD/build/tour}
echo "No display: running the headless tour of the main window (test card camera)."
./build/tools/mirestal-tour/mirestal-tour "$OUT" examples/roster.dbf
echo "Screenshots of each step: $OUT/NN-step.png; messages shown: $OUT/messages.txt"
