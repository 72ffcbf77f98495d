# Shared set-up for scripts/run and scripts/test: Debian packages, then a configured build tree.
# Sourced, not run.

VANTARO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VANTARO_JOBS=$(nproc 2>/dev/null || echo 2)

VANTARO_PACKAGES=(
  cmake g++ make pkg-config
  qt6-base-dev libgl-dev libfreeimage-dev libcurl4-openssl-dev libepoxy-dev
  libgtest-dev libssl-dev openssl libx11-dev
  xvfb xauth x11-utils imagemagick fonts-dejavu-core
  libgl1-mesa-dri libvips-tools
)

# Installs only what is missing, so a second run costs one dpkg query.
ensure_packages() {
  local missing=()
  local pkg
  for pkg in "${VANTARO_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir=$1
  shift
  cmake -S "$VANTARO_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$VANTARO_JOBS"
}
