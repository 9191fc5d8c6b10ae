#!/usr/bin/env bash
# Builds the radar chain's units and their unit tests for 32-bit ARM (Debian's
# armhf, the station's processor) and runs them under qemu-arm, so that the
# fixed-point results, record layouts and 32-bit arithmetic are checked on
# that processor, not only here. Installs the cross compiler and the emulator
# when missing and unpacks Debian's armhf builds of the libraries into the
# build folder (build-armhf/, or $ARMHF_BUILD_DIR). The tests start this
# machine's configuration stand-in, built first when missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
host=${BUILD_DIR:-$root/build}
build=${ARMHF_BUILD_DIR:-$root/build-armhf}
sysroot=$build/root

# The libraries the chain links, and what they need at run time.
LIBS=(libzmq3-dev cppzmq-dev libjsoncpp-dev libcjson-dev libgtest-dev
  libzmq5 libsodium23 libpgm-5.3-0 libnorm1 libgssapi-krb5-2 libkrb5-3 libk5crypto3 libcom-err2
  libkrb5support0 libkeyutils1 libssl3 libbsd0 libmd0 libjsoncpp25 libcjson1)

skip() {
  echo "armhf: $1: the radar chain's unit tests for 32-bit ARM are SKIPPED" >&2
  exit 0
}
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
apt_update() {
  # An out-of-step index elsewhere (a mirror in mid-sync) must not stop the
  # ones the packages below come from.
  $SUDO apt-get -o DPkg::Lock::Timeout=300 update -q || true
}
missing=()
for p in crossbuild-essential-armhf qemu-user; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  $SUDO dpkg --add-architecture armhf || skip "armhf packages cannot be added to this machine"
  apt_update
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 install -y -q "${missing[@]}" ||
    skip "the cross compiler or the emulator (${missing[*]}) cannot be installed"
fi

# Unpacked rather than installed beside this machine's own builds: those must
# then be of the very same versions, which an archive mid-update may not offer.
if [ "$(cat "$sysroot/.libs" 2>/dev/null)" != "${LIBS[*]}" ]; then
  rm -rf "$sysroot"
  mkdir -p "$sysroot/debs"
  fetch() { (cd "$sysroot/debs" && apt-get download -q "${LIBS[@]/%/:armhf}"); }
  fetch || { apt_update; fetch; } || skip "the armhf builds of the libraries cannot be fetched"
  for d in "$sysroot"/debs/*.deb; do dpkg-deb -x "$d" "$sysroot"; done
  # Their CMake files name the places they install to: point those here.
  find "$sysroot/usr" -name '*.cmake' -exec sed -i "s|\"/usr/|\"$sysroot/usr/|g" {} +
  echo "${LIBS[*]}" >"$sysroot/.libs"
fi

if [ -f "$host/build.ninja" ]; then
  cmake --build "$host" --target configservice >/dev/null
else
  bash "$root/scripts/build.sh"
fi

export PKG_CONFIG_LIBDIR=$sysroot/usr/lib/arm-linux-gnueabihf/pkgconfig:$sysroot/usr/share/pkgconfig
export PKG_CONFIG_SYSROOT_DIR=$sysroot
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/armhf.cmake" \
  -DARMHF_ROOT="$sysroot" -DSTATION_CHAIN_UNITS=ON \
  -DHOST_CONFIGSERVICE="$host/tools/configservice/configservice" >/dev/null
cmake --build "$build" -j "$(nproc)"
cd "$build"
# Emulated, a test runs several times slower than here: a test that waits for
# a feed or a port can lose a race it wins natively, so it gets another try.
ctest --output-on-failure -j "$(nproc)" --repeat until-pass:3 ${CTEST_ARGS:-}
