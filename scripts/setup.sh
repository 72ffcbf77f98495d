# Shared set-up for scripts/run and scripts/test: Debian packages, then a configured build tree.
# Sourced, not run.

VANTARO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VANTARO_JOBS=$(nproc 2>/dev/null || echo 2)

VANTARO_PACKAGES=(
  cmake g++ make pkg-config
  qt6-base-dev libgl-dev libfreeimage-dev libcurl4-openssl-dev libepoxy-dev
  libgtest-dev libssl-dev openssl libx11-dev
  xvfb xauth x11-utils imagemagick fonts-dejavu-core libxtst-dev xdotool xclip
  libgl1-mesa-dri libvips-tools dbus-daemon at-spi2-core
  dpkg-dev file desktop-file-utils appstream librsvg2-bin zlib1g-dev libjpeg62-turbo-dev libdeflate-dev
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

# tile_host_options DIR [cmake options...]: the option that makes DIR a sample build (for the bundled
# sample tile service) unless a tile host pattern is given in the options or was configured before.
tile_host_options() {
  local dir=$1
  shift
  local arg pattern="" given=0
  for arg in "$@"; do
    case $arg in
      -DVANTARO_TILE_HOST_PATTERN=* | -DVANTARO_TILE_HOST_PATTERN:*=*) pattern=${arg#*=}; given=1 ;;
    esac
  done
  if [ $given = 0 ] && [ -f "$dir/CMakeCache.txt" ]; then
    pattern=$(cache_value "$dir" VANTARO_TILE_HOST_PATTERN)
    [ "$pattern" = "cbk{N}.tiles.invalid" ] && pattern=""
  fi
  if [ -n "$pattern" ]; then
    echo "-DVANTARO_SAMPLE_TILES=OFF"
  else
    echo "-DVANTARO_SAMPLE_TILES=ON"
  fi
}

# cache_value DIR NAME: a configured build's setting.
cache_value() {
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"
}

# True when something listens on the loopback port.
port_listening() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# start_sample_service DIR: starts DIR's sample tile service in the background unless one already
# listens on its port; sets SAMPLE_SERVICE_PID to the process started, if any.
start_sample_service() {
  local dir=$1 port
  port=$(cache_value "$dir" VANTARO_SAMPLE_PORT)
  SAMPLE_SERVICE_PID=""
  if port_listening "$port"; then
    echo "Reusing the sample tile service already listening on port $port."
    return 0
  fi
  "$dir/vantaro-sample-tiles" &
  SAMPLE_SERVICE_PID=$!
  local i
  for i in $(seq 100); do
    port_listening "$port" && return 0
    kill -0 "$SAMPLE_SERVICE_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "The sample tile service did not start on port $port." >&2
  return 1
}

stop_sample_service() {
  if [ -n "${SAMPLE_SERVICE_PID:-}" ]; then
    kill "$SAMPLE_SERVICE_PID" 2>/dev/null || true
    wait "$SAMPLE_SERVICE_PID" 2>/dev/null || true
    SAMPLE_SERVICE_PID=""
  fi
}
