#!/usr/bin/env bash
# Installs everything the program, its tools and its tests need on Debian 12.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -q
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  build-essential cmake ninja-build pkg-config git \
  qt6-base-dev qt6-serialport-dev qt6-charts-dev libgl-dev \
  libudev-dev pxlib-dev \
  libgtest-dev libgmock-dev libbenchmark-dev \
  clang libclang-rt-14-dev \
  fonts-liberation2 fonts-dejavu-core
