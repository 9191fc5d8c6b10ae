#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need.
# Does nothing when every package is already there.
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

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get -o DPkg::Lock::Timeout=300 update -q
$SUDO apt-get -o DPkg::Lock::Timeout=300 install -y -q --no-install-recommends "${missing[@]}"
