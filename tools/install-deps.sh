#!/usr/bin/env bash
# Installs everything the program, its tools and its tests need on Debian 12.
# Run it as root, or as a user who may use sudo: it then asks sudo for the
# password itself.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: run this as root (there is no sudo here)" >&2; exit 1; }
  SUDO="sudo"
fi
echo "== installing packages"
$SUDO apt-get update -q
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  build-essential cmake ninja-build pkg-config git \
  qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libgl-dev \
  libudev-dev libumockdev-dev umockdev pxlib-dev zlib1g-dev \
  libmosquitto-dev mosquitto mosquitto-clients openssl \
  libgtest-dev libgmock-dev libbenchmark-dev \
  clang libclang-rt-14-dev \
  fonts-liberation2 fonts-dejavu-core \
  poppler-utils python3 \
  dpkg-dev file desktop-file-utils appstream
