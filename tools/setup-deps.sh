#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing. Works as root, or
# through sudo otherwise.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config ccache clang-format
    libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
    libavfilter-dev libavdevice-dev ffmpeg
    qt6-base-dev qt6-svg-dev qt6-multimedia-dev libgl-dev libgtest-dev
    clang libclang-rt-14-dev
    python3
    libuchardet0
)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
