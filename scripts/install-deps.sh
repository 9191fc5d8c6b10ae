#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need.
# Does nothing when every package is already there; ends non-zero, naming
# them, only when packages cannot be installed.
set -euo pipefail

PKGS=(
  build-essential cmake ninja-build pkg-config
  libzmq3-dev cppzmq-dev libjsoncpp-dev libcjson-dev libeigen3-dev
  default-jdk-headless
  libgtest-dev libgmock-dev googletest libbenchmark-dev libfftw3-dev
  clang libclang-rt-14-dev
  util-linux iproute2 gpg
  memcached
)

source "$(dirname "$0")/packages.sh"
install_packages "${PKGS[@]}"
