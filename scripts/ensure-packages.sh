#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
# Usage: scripts/ensure-packages.sh run|test|windows
set -euo pipefail

run_packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  libcurl4-gnutls-dev libboost-dev nlohmann-json3-dev ca-certificates
  libx11-dev libxtst-dev libxss-dev
  fonts-liberation
)
test_packages=(
  xvfb x11-xkb-utils x11-xserver-utils openbox tint2 xdotool wmctrl x11-utils x11-apps imagemagick
  dbus dbus-x11 python3
  libbenchmark-dev g++-mingw-w64-x86-64 clang-format clang-tidy locales
  desktop-file-utils appstream lintian init-system-helpers
  clang libclang-rt-14-dev
  nginx
)
# The Windows cross build (scripts/build-windows.sh), its installer and the
# tests that run it under Wine.
windows_packages=(
  cmake ninja-build perl dpkg-dev patch pkg-config
  qt6-base-dev qt6-base-dev-tools libboost-dev nlohmann-json3-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  nsis zip unzip openssl
  wine wine64 xvfb openbox xdotool x11-utils x11-apps imagemagick
)

wanted=()
case "${1:-run}" in
  run) wanted=("${run_packages[@]}") ;;
  test) wanted=("${run_packages[@]}" "${test_packages[@]}") ;;
  windows) wanted=("${windows_packages[@]}") ;;
  *)
    echo "usage: $0 run|test|windows" >&2
    exit 2
    ;;
esac

missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  # Packages such as nginx start their service when installed; the tests run
  # their own instances, so keep the package scripts from starting any.
  made_policy=
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee /usr/sbin/policy-rc.d >/dev/null
    "${sudo_cmd[@]}" chmod 755 /usr/sbin/policy-rc.d
    made_policy=1
  fi
  "${sudo_cmd[@]}" apt-get install -o DPkg::Lock::Timeout=600 -y -qq --no-install-recommends "${missing[@]}"
  if [ -n "$made_policy" ]; then
    "${sudo_cmd[@]}" rm -f /usr/sbin/policy-rc.d
  fi
fi

# The conversion tests run again under a locale that writes decimals with a comma.
if [ "${1:-run}" = test ] && ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  echo "Generating the de_DE.UTF-8 locale"
  "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
