# Sourced by the other scripts: makes sure the Debian packages a build needs are installed.
#
# As root, missing packages are installed with apt-get; otherwise the exact command is printed
# and the script stops.

ensure_packages() {
  if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "This script installs its tools on Debian. Install these packages, or their" \
         "equivalents, yourself: $*" >&2
    return 0
  fi
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  if [ "${#missing[@]}" -eq 0 ]; then
    return 0
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
}

# What every build needs: a C++23 compiler (GCC 12), CMake and GoogleTest.
BUILD_PACKAGES=(g++ cmake make libgtest-dev libgmock-dev)

jobs() {
  nproc 2>/dev/null || echo 2
}
