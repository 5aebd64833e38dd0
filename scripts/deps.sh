#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, only those missing.
# Sourced by the other scripts; safe to run again.
set -euo pipefail

kelvaro_packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-serialport-dev qt6-charts-dev qt6-svg-dev libqt6opengl6-dev
  libgl-dev fonts-dejavu-core
  libbenchmark-dev
  dpkg-dev file  # the .deb: dpkg-shlibdeps works out its dependencies, file finds the programs
  systemd  # the recorder's service files: systemd-analyze verify and security, systemd-sysusers
)

# Only for fuzz/run.sh: clang++ and its runtime libraries, libFuzzer among them.
kelvaro_fuzz_packages=(
  clang libclang-rt-14-dev
)

kelvaro_install_deps() {
  local missing=()
  local pkg
  for pkg in "${kelvaro_packages[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "== Debian packages: all present"
    return 0
  fi
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
  fi
  echo "== Installing Debian packages: ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
