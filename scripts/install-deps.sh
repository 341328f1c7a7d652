#!/usr/bin/env bash
# Installs the Debian packages Tarnlyx needs to build and test, if any are
# missing. Usage: scripts/install-deps.sh [extra-package...]
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libuchardet-dev
          xvfb xauth xdotool acl attr util-linux strace e2fsprogs
          desktop-file-utils appstream dpkg-dev file bash-completion man-db ffmpeg "$@")

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
