#!/usr/bin/env bash
# The Debian 12 (bookworm) and Debian 13 (trixie) packages the project needs, declared in
# this one place, and the functions that install the missing ones. Sourced by the other
# scripts; safe to run again. Where the two releases name a package differently, the
# release this machine runs chooses (kelvaro_release).
#
# Only what a package *Depends* on arrives with it: the scripts install with
# --no-install-recommends, so anything a build, test or tool needs that a declared package
# merely recommends must be declared here too. scripts/check-packages proves the list
# against what the configure step really reads.
set -euo pipefail

# The release's code name from /etc/os-release: bookworm, trixie, or what else it says.
kelvaro_release="$( (. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}") || true)"

# The build, the tests, the demo and the benchmarks.
kelvaro_packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-serialport-dev qt6-charts-dev qt6-svg-dev
  qt6-httpserver-dev qt6-websockets-dev # kelvaro-web: its HTTP server and the page's WebSocket
  libgl-dev fonts-dejavu-core
  libbenchmark-dev
  dpkg-dev file # the .deb: dpkg-shlibdeps works out its dependencies, file finds the programs
  systemd # the recorder's service files: systemd-analyze verify and security, systemd-sysusers
  tzdata # the history tests read days of clock changes in named zones (TZ=Europe/Berlin)
  libmosquitto-dev # the recorder's MQTT bridge
  libcrypt-dev # kelvaro-web's password hashes (yescrypt through crypt_r)
  mosquitto openssl # the MQTT tests start a broker (mosquitto_passwd) and make a TLS authority
  scdoc # the manual pages, from docs/man/*.scd (runs no program, so it cross-builds)
)
# Qt6Charts' CMake package needs Qt6OpenGL: Debian 12's qt6-charts-dev only recommends
# libqt6opengl6-dev; Debian 13's qt6-base-dev holds it (and provides that name).
if [ "$kelvaro_release" != trixie ]; then
  kelvaro_packages+=(libqt6opengl6-dev)
fi


# Only for fuzz/run.sh: clang++ and its runtime libraries, libFuzzer among them (the
# runtime's package carries the release's clang version).
case "$kelvaro_release" in
  trixie) kelvaro_clang_runtime=libclang-rt-19-dev ;;
  *) kelvaro_clang_runtime=libclang-rt-14-dev ;;
esac
kelvaro_fuzz_packages=(
  clang "$kelvaro_clang_runtime"
)

# Only for bench/service_resources.sh and bench/recorder_wakeups.sh: strace times the
# recorder's reads and frames and counts its wake-ups.
kelvaro_service_bench_packages=(
  strace
)

# Only for the ssh tests (tst_e2e_ssh, which is skipped without them): an OpenSSH server
# the test starts on a loopback port of its own. scripts/test installs it only under CI,
# and keeps the package from starting the machine's own ssh service: a developer's desk
# should not get an ssh server by running the tests.
kelvaro_ssh_test_packages=(
  openssh-server openssh-client
)

# Only for the web page's browser test (skipped without them): Chromium driven through
# WebDriver by Selenium. scripts/test installs them only under CI, as the ssh test's
# server: a browser is a large download that a developer's desk may not want for a test.
kelvaro_browser_test_packages=(
  chromium chromium-driver python3-selenium
)

# Only for scripts/check-format (CI): the formatter of .clang-format.
kelvaro_format_packages=(
  clang-format
)

# Only for scripts/screenshots: the demo under a virtual X server, keyboard input to its
# windows, the grab of each window and its reduction to a small PNG.
kelvaro_screenshot_packages=(
  xvfb xauth xdotool imagemagick pngquant
)

# Only for scripts/lint-package (CI): checks the .deb as Debian checks its packages.
kelvaro_lint_packages=(
  lintian
)

# Only for scripts/fresh-debian (CI's fresh-root stages): builds the Debian roots.
kelvaro_fresh_root_packages=(
  debootstrap
)

# Only for scripts/arm64: the cross toolchain, the arm64 side of Qt (the host tools come
# with it from the amd64 side), and qemu to run the arm64 tests; after
# `dpkg --add-architecture arm64`.
kelvaro_arm64_packages=(
  cmake ninja-build pkg-config crossbuild-essential-arm64
  qt6-base-dev:arm64 qt6-serialport-dev:arm64 libmosquitto-dev:arm64 libcrypt-dev:arm64
  qt6-httpserver-dev:arm64 qt6-websockets-dev:arm64
  dpkg-dev file systemd tzdata scdoc
  qemu-user-static
)

# The declared packages a configure preset may rely on (scripts/check-packages).
kelvaro_preset_packages() {
  case "$1" in
    fuzz) echo "${kelvaro_packages[*]} ${kelvaro_fuzz_packages[*]}" ;;
    arm64) echo "${kelvaro_arm64_packages[*]}" ;;
    *) echo "${kelvaro_packages[*]}" ;;
  esac
}

# kelvaro_install_packages PACKAGE...: installs those of the given packages that are
# missing, with apt-get as root or through sudo; stops with a message when neither works.
kelvaro_install_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "== Debian packages: all present"
    return 0
  fi
  if ! command -v apt-get >/dev/null; then
    echo "$0: these Debian packages are missing: ${missing[*]}" >&2
    echo "  and there is no apt-get to install them: the scripts support Debian 12 (bookworm)" >&2
    echo "  and Debian 13 (trixie)." >&2
    exit 1
  fi
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "$0: these Debian packages are missing: ${missing[*]}" >&2
      echo "  Installing them needs root, and sudo is not installed. Either run this command" >&2
      echo "  as root once, or install them as root with" >&2
      echo "    apt-get install --no-install-recommends ${missing[*]}" >&2
      echo "  and run it again." >&2
      exit 1
    fi
    sudo=(sudo)
  fi
  case "$kelvaro_release" in
    bookworm | trixie) ;;
    *) echo "== Note: this is not Debian 12 (bookworm) or 13 (trixie), the releases these scripts are made for" ;;
  esac
  echo "== Installing Debian packages${sudo:+ with sudo}: ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# kelvaro_install_deps [EXTRA-PACKAGE...]: the project's packages plus the given extras.
kelvaro_install_deps() {
  kelvaro_install_packages "${kelvaro_packages[@]}" "$@"
}

# Installs the ssh tests' server without starting the ssh service: Debian's policy-rc.d
# refuses every start while the package is installed (as root; otherwise it is left out).
kelvaro_install_ssh_test_server() {
  if dpkg-query -W -f='${Status}' openssh-server 2>/dev/null | grep -q "install ok installed"; then
    return 0
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "== Note: the ssh tests need openssh-server, which only root installs here; they are skipped"
    return 0
  fi
  local policy=/usr/sbin/policy-rc.d
  if [ -e "$policy" ]; then
    kelvaro_install_packages "${kelvaro_ssh_test_packages[@]}"
    return 0
  fi
  printf '#!/bin/sh\nexit 101\n' >"$policy"
  chmod 755 "$policy"
  local status=0
  kelvaro_install_packages "${kelvaro_ssh_test_packages[@]}" || status=$?
  rm -f "$policy"
  return "$status"
}
