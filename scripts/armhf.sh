#!/usr/bin/env bash
# Builds the whole tree for 32-bit ARM (Debian's armhf, the station's
# processor) with a 64-bit clock, stages what goes onto the station, and runs
# the unit tests under qemu-arm, so that the fixed-point results, record
# layouts, 32-bit arithmetic, the programs and both JNI libraries are checked
# on that processor, not only here. Installs what it runs on this machine when
# missing (the build tools, the cross compiler, the emulator, the JDK and the
# programs the tests start); Debian's armhf builds of the libraries and of a
# Java runtime are fetched through an apt state of its own and unpacked into
# the build folder (build-armhf/, or $ARMHF_BUILD_DIR):
#   apt/     the armhf package lists and cache
#   root/    the unpacked packages
#   stage/   the install for the station (cmake --install, stripped), checked
#            by scripts/check-stage.sh; runtime-packages.txt beside it names
#            the packages the station needs for it
#   host-path/  links to the programs of this machine the tests may start,
#               their PATH at /usr/local/bin
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
  # The programs the tests may start, shown where the tests' own namespaces
  # leave them in sight: those cover /tmp and /opt, where the build may lie.
  mount --bind "$build/host-path" /usr/local/bin
  cd "$build"
  # Emulated, a test runs several times slower than here: a test that waits
  # for a feed or a port can lose a race it wins natively, so it gets another
  # try. What the emulator cannot run faithfully is labelled and left out.
  PATH=/usr/local/bin exec ctest --output-on-failure -j "${ARMHF_TEST_JOBS:-3}" --repeat until-pass:3 -LE emulator-limits ${CTEST_ARGS:-}
fi

# The libraries the tree links, and what they need at run time; a Java
# runtime, for the tests that load the JNI libraries into a JVM.
LIBS=(libzmq3-dev cppzmq-dev libjsoncpp-dev libcjson-dev libgtest-dev
  libzmq5 libsodium23 libpgm-5.3-0 libnorm1 libgssapi-krb5-2 libkrb5-3 libk5crypto3 libcom-err2
  libkrb5support0 libkeyutils1 libssl3 libbsd0 libmd0 libjsoncpp25 libcjson1
  openjdk-17-jre-headless zlib1g)
# Built once for every processor.
INDEP=(libeigen3-dev)

# On this machine only what runs here: the build tools, the cross compiler,
# the emulator, the JDK whose JNI headers the libraries are built against, and
# the programs of this machine that the ARM tests start.
HOST=(cmake ninja-build pkg-config crossbuild-essential-armhf qemu-user default-jdk-headless
  iproute2 memcached gpg)
source "$root/scripts/packages.sh"
install_packages "${HOST[@]}"

# The armhf packages come through an apt state of the build folder's own: its
# package lists, its cache and an empty status file, with armhf its only
# architecture. This machine's dpkg architectures and package lists stay as
# they are; its sources and keys are used as they are.
apt_dir=$build/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
touch "$apt_dir/status"
armhf_apt=(-q -o Dir::State="$apt_dir" -o Dir::State::Lists="$apt_dir/lists"
  -o Dir::State::status="$apt_dir/status" -o Dir::Cache="$apt_dir/cache"
  -o APT::Architecture=armhf -o APT::Architectures::=armhf)
# As root apt hands downloads to its own user, who cannot write here.
[ "$(id -u)" -ne 0 ] || armhf_apt+=(-o APT::Sandbox::User=root)
armhf_update() {
  apt-get "${armhf_apt[@]}" update ||
    echo "armhf: apt-get update failed (status $?): fetching from the package lists at hand" >&2
}

# Unpacked rather than installed beside this machine's own builds: those must
# then be of the very same versions, which an archive mid-update may not offer.
# .files lists the package of every file unpacked, for the stage check.
want="${LIBS[*]} ${INDEP[*]}"
if [ "$(cat "$sysroot/.libs" 2>/dev/null)" != "$want" ] || [ ! -f "$sysroot/.files" ]; then
  rm -rf "$sysroot"
  debs=$sysroot/debs
  mkdir -p "$debs"
  fetch() {
    rm -f "$debs"/*.deb
    (cd "$debs" && apt-get "${armhf_apt[@]}" download "${LIBS[@]}" "${INDEP[@]}")
  }
  # Lists at hand first; fresh ones when there are none or they are out of date.
  if ! compgen -G "$apt_dir/lists/*_Packages*" >/dev/null || ! fetch; then
    armhf_update
    fetch || true
  fi
  declare -A deb_of
  for d in "$debs"/*.deb; do [ -e "$d" ] && deb_of[$(dpkg-deb -f "$d" Package)]=$d; done
  missing=()
  for p in "${LIBS[@]}" "${INDEP[@]}"; do [ -n "${deb_of[$p]:-}" ] || missing+=("$p"); done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "armhf: could not fetch the armhf packages: ${missing[*]}" >&2
    exit 1
  fi
  for p in "${!deb_of[@]}"; do
    dpkg-deb -x "${deb_of[$p]}" "$sysroot"
    dpkg-deb -c "${deb_of[$p]}" | awk -v p="$p" '{ print p, substr($6, 2) }' >>"$sysroot/.files"
  done
  rm -rf "$debs"
  # Their CMake files name the places they install to: point those here.
  find "$sysroot/usr" -name '*.cmake' -exec sed -i "s|\"/usr/|\"$sysroot/usr/|g" {} +
  echo "$want" >"$sysroot/.libs"
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/armhf.cmake" \
  -DARMHF_ROOT="$sysroot" >/dev/null
cmake --build "$build" -j "${ARMHF_JOBS:-$(nproc)}"

# What goes onto the station, stripped, and the packages it needs there.
stage=$build/stage
rm -rf "$stage"
cmake --install "$build" --prefix "$stage" --strip >/dev/null
bash "$root/scripts/check-stage.sh" "$stage" "$sysroot" >"$build/runtime-packages.txt" ||
  { echo "armhf: the stage in $stage is not fit for the station" >&2; exit 1; }
echo "armhf: staged in $stage: $(find "$stage" ! -type d | wc -l) files, $(du -sk "$stage" | cut -f1) KiB"
echo "armhf: the station needs the armhf packages: $(tr '\n' ' ' <"$build/runtime-packages.txt")"

# The ARM tests find on PATH only the programs of the packages installed above
# and of those every Debian system has (priority required), as on a machine
# where this script alone installed anything: a test that starts any other
# program of this machine fails here as it would fail there.
host_path=$build/host-path
rm -rf "$host_path"
mkdir -p "$host_path"
mapfile -t host_packages < <({
  apt-cache depends --recurse --installed --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances "${HOST[@]}" | grep -v '^[ <]'
  dpkg-query -W -f='${Package} ${Priority} ${Essential}\n' | awk '$2 == "required" || $3 == "yes" { print $1 }'
} | sort -u)
declare -A allowed=()
while IFS= read -r f; do allowed[$f]=1; done < <(dpkg -L "${host_packages[@]}" 2>/dev/null |
  grep -E '/s?bin/[^/]+$' | xargs -d '\n' realpath -m)
# Through the names on this machine's PATH, so that links and alternatives
# (awk, java) count for the package of the program they lead to.
mapfile -t names < <(find /usr/sbin /usr/bin /sbin /bin -maxdepth 1 ! -type d 2>/dev/null)
mapfile -t targets < <(printf '%s\n' "${names[@]}" | xargs -d '\n' realpath -m)
for i in "${!names[@]}"; do
  [ -n "${allowed[${targets[$i]}]:-}" ] && [ ! -e "$host_path/${names[$i]##*/}" ] &&
    ln -s "${names[$i]}" "$host_path/${names[$i]##*/}"
done

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
