#!/usr/bin/env bash
# Installs the Debian packages the project needs to build, test and run its demo.
# Idempotent: installs only what is missing, and runs apt-get update at most once.
set -euo pipefail

packages=(
    cmake g++ make pkg-config git
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libasound2-dev alsa-utils
    libgtest-dev libgmock-dev libbenchmark-dev
    fonts-wqy-microhei
    xvfb xdotool x11-utils xauth
    socat util-linux procps
    clang libclang-rt-14-dev
    dpkg-dev desktop-file-utils appstream
    g++-mingw-w64-x86-64-posix wine64 wine googletest
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
echo "setup: installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
