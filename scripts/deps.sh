#!/usr/bin/env bash
# Installs the Debian packages the build, tests and benchmarks need, when any is missing.
# Safe to run repeatedly; needs root (or sudo) only when something must be installed.
set -euo pipefail
pkgs=(cmake ninja-build g++ clang clang-format libgtest-dev libgmock-dev libbenchmark-dev
      libboost-dev qt6-base-dev qt6-qpa-plugins libgl-dev valgrind
      libclang-rt-14-dev libcli11-dev nlohmann-json3-dev python3
      ser2net)  # a serial port server the network tests run against
# Packaging and its proof (scripts/package.sh): dependency lists, file types, pkg-config.
pkgs+=(dpkg-dev file pkgconf)
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
