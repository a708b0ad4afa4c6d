# Debian 12 packages the project builds and tests with; installed only when
# something is missing, so a prepared machine does not touch apt at all.
DORVANE_BUILD_PACKAGES=(
  cmake g++ make
  qt6-base-dev qt6-serialport-dev
  libboost-dev libsimpleini-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth
)

install_build_deps() {
  local missing=() p
  for p in "${DORVANE_BUILD_PACKAGES[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if ((${#missing[@]})); then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}
