#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing and running Mirestal need.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config git \
  libgtest-dev libgmock-dev libbenchmark-dev \
  qt6-base-dev qt6-multimedia-dev libjpeg62-turbo-dev libzip-dev \
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good \
  fonts-arphic-uming fonts-wqy-microhei \
  python3 python3-dbfread python3-xlrd python3-olefile libjpeg-turbo-progs zip \
  libreoffice-calc-nogui python3-xlwt locales \
  xvfb openbox xdotool x11-utils imagemagick \
  libdlib-dev libpng-dev python3-skimage opencv-doc python3-opencv opencv-data \
  ${MIRESTAL_EXTRA_PACKAGES:-}
# The conversion tests run under these locales besides C.UTF-8.
for loc in en_GB.UTF-8 de_DE.UTF-8; do
  if ! locale -a 2>/dev/null | grep -qi "^${loc%%.*}\.utf-\?8$"; then
    $SUDO sed -i "s/^# *\(${loc} UTF-8\)/\1/" /etc/locale.gen
    NEED_LOCALE_GEN=1
  fi
done
if [ "${NEED_LOCALE_GEN:-0}" = 1 ]; then $SUDO locale-gen; fi
