# Installing Debian packages on this machine, for the set-up scripts (sourced).
#   install_packages PACKAGE...   installs those that are missing
# A failed index update (a mirror in mid-sync, one source out of reach) does
# not stop it: the install goes on with the package lists at hand. Only an
# install that fails does, naming the packages still missing.

# Those of the packages dpkg does not have installed, one per line.
missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

install_packages() {
  local missing sudo="" status=0
  mapfile -t missing < <(missing_packages "$@")
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "installing: ${missing[*]}"
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get -o DPkg::Lock::Timeout=300 update -q ||
    echo "apt-get update failed (status $?): installing from the package lists at hand" >&2
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 install -y -q \
    --no-install-recommends "${missing[@]}" || status=$?
  [ "$status" -eq 0 ] && return 0
  mapfile -t missing < <(missing_packages "${missing[@]}")
  echo "apt-get install failed (status $status); not installed: ${missing[*]:-none of the packages is missing}" >&2
  return 1
}
