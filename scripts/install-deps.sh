#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests and the application need, and clang with
# its fuzzer runtime (libclang-rt-14-dev holds libclang_rt.fuzzer) for the fuzz targets.
# Idempotent: safe to run again on a machine that already has them.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config \
  qtbase5-dev qtbase5-dev-tools libqt5svg5-dev libqwt-qt5-dev \
  libavcodec-dev libavutil-dev libswscale-dev libdav1d-dev libsvm-dev \
  libgtest-dev libgmock-dev libbenchmark-dev \
  ffmpeg xvfb xauth \
  clang libclang-rt-14-dev
