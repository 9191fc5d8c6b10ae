#!/usr/bin/env bash
# Builds the whole tree for 32-bit ARM (Debian's armhf, the station's
# processor) with a 64-bit clock, and runs its unit tests under qemu-arm, so
# that the fixed-point results, record layouts, 32-bit arithmetic, the
# programs and both JNI libraries are checked on that processor, not only
# here. Installs the cross compiler and the emulator when missing and unpacks
# Debian's armhf builds of the libraries and of a Java runtime into the build
# folder (build-armhf/, or $ARMHF_BUILD_DIR).
#
# Tests that start programs built for ARM need the emulator as the kernel's
# handler for ARM programs. This machine's binfmt_misc is left alone: the
# tests run in a private user namespace with its own binfmt_misc (Linux 6.7 or
# later), where the script registers qemu-arm.
#
# ARMHF_JOBS: build jobs (default: every core); ARMHF_TEST_JOBS: tests run at
# once (default 3); CTEST_ARGS: more ctest arguments.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ARMHF_BUILD_DIR:-$root/build-armhf}
sysroot=$build/root
qemu_prefix=/usr/arm-linux-gnueabihf

if [ "${1:-}" = "--tests-inside" ]; then
  # In the private user and mount namespace: an own binfmt_misc, the
  # emulator registered there for 32-bit little-endian ARM programs. F opens
  # the emulator now, so it serves in every mount namespace a test makes; P
  # hands a program the argv[0] it was started with.
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x28\x00'
  mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-arm:M::$magic:$mask:$(command -v qemu-arm):PF" >/proc/sys/fs/binfmt_misc/register
  # The programs' loader and C library, for programs the handler starts.
  export QEMU_LD_PREFIX=$qemu_prefix
  cd "$build"
  # Emulated, a test runs several times slower than here: a test that waits
  # for a feed or a port can lose a race it wins natively, so it gets another
  # try. What the emulator cannot run faithfully is labelled and left out.
  exec ctest --output-on-failure -j "${ARMHF_TEST_JOBS:-3}" --repeat until-pass:3 -LE emulator-limits ${CTEST_ARGS:-}
fi

# The libraries the tree links, and what they need at run time; a Java
# runtime, for the tests that load the JNI libraries into a JVM.
LIBS=(libzmq3-dev cppzmq-dev libjsoncpp-dev libcjson-dev libgtest-dev
  libzmq5 libsodium23 libpgm-5.3-0 libnorm1 libgssapi-krb5-2 libkrb5-3 libk5crypto3 libcom-err2
  libkrb5support0 libkeyutils1 libssl3 libbsd0 libmd0 libjsoncpp25 libcjson1
  openjdk-17-jre-headless zlib1g)
# Built once for every processor.
INDEP=(libeigen3-dev)

skip() {
  echo "armhf: $1: the unit tests for 32-bit ARM are SKIPPED" >&2
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
for p in crossbuild-essential-armhf qemu-user default-jdk-headless; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  $SUDO dpkg --add-architecture armhf || skip "armhf packages cannot be added to this machine"
  apt_update
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 install -y -q "${missing[@]}" ||
    skip "the cross compiler, the emulator or the JDK (${missing[*]}) cannot be installed"
fi

# Unpacked rather than installed beside this machine's own builds: those must
# then be of the very same versions, which an archive mid-update may not offer.
want="${LIBS[*]} ${INDEP[*]}"
if [ "$(cat "$sysroot/.libs" 2>/dev/null)" != "$want" ]; then
  rm -rf "$sysroot"
  mkdir -p "$sysroot/debs"
  fetch() { (cd "$sysroot/debs" && apt-get download -q "${LIBS[@]/%/:armhf}" "${INDEP[@]}"); }
  fetch || { apt_update; fetch; } || skip "the armhf builds of the libraries cannot be fetched"
  for d in "$sysroot"/debs/*.deb; do dpkg-deb -x "$d" "$sysroot"; done
  rm -rf "$sysroot/debs"
  # Their CMake files name the places they install to: point those here.
  find "$sysroot/usr" -name '*.cmake' -exec sed -i "s|\"/usr/|\"$sysroot/usr/|g" {} +
  echo "$want" >"$sysroot/.libs"
fi

export PKG_CONFIG_LIBDIR=$sysroot/usr/lib/arm-linux-gnueabihf/pkgconfig:$sysroot/usr/share/pkgconfig
export PKG_CONFIG_SYSROOT_DIR=$sysroot
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/armhf.cmake" \
  -DARMHF_ROOT="$sysroot" >/dev/null
cmake --build "$build" -j "${ARMHF_JOBS:-$(nproc)}"

# Where this kernel cannot give a user namespace its own binfmt_misc, the
# tests that start ARM programs cannot run: that is a failure, not a skip.
if ! unshare --user --map-root-user --mount sh -c \
  'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc' 2>/dev/null; then
  why="this kernel ($(uname -r)) gives no user namespace its own binfmt_misc (Linux 6.7 or later does)"
  grep -qw binfmt_misc /proc/filesystems || why="this kernel ($(uname -r)) has no binfmt_misc loaded"
  echo "armhf: $why: the tests that start ARM programs cannot register the emulator" >&2
  exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
  exec unshare --user --map-root-user --mount bash "$0" --tests-inside
fi
# As root, every user and group is mapped to itself (unshare maps only root
# without the shadow tools' helpers): tests hand files to other users.
fifo=$(mktemp -u)
mkfifo "$fifo"
unshare --user --mount sh -c 'read -r _ <"$1"; exec bash "$2" --tests-inside' sh "$fifo" "$0" &
inner=$!
while [ "$(readlink /proc/$inner/ns/user)" = "$(readlink /proc/self/ns/user)" ]; do sleep 0.05; done
echo "0 0 4294967295" >/proc/$inner/uid_map
echo "0 0 4294967295" >/proc/$inner/gid_map
echo go >"$fifo"
rm -f "$fifo"
wait $inner
