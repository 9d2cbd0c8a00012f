#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent and
# non-interactive; does nothing when every package is already present.
set -euo pipefail

packages=(
  build-essential cmake make pkg-config
  juce-modules-source-data
  g++-mingw-w64-x86-64-posix
  wine wine64
  libxcb1-dev xvfb x11-utils xdotool openbox
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsndfile1-dev libpng-dev libcairo2-dev nlohmann-json3-dev libsmf-dev
  procps valgrind
  clang clang-format libclang-rt-14-dev strace
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
