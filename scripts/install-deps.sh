#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds and tests with. Idempotent: only what is
# missing is installed; uses sudo when not run as root.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config ccache
  postgresql libpq-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libzip-dev libdeflate-dev libpugixml-dev nlohmann-json3-dev libsqlite3-dev libssl-dev
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev qt6-translations-l10n
  python3 python3-openpyxl xvfb xauth
  clang libclang-rt-14-dev g++-multilib
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "dependencies: all ${#packages[@]} packages present"
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

echo "dependencies: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
