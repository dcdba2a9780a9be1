#!/usr/bin/env bash
# Installs every Debian package the project needs.  Idempotent: when all are
# present it only asks dpkg and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev
  libmotif-dev libxt-dev libxmu-dev libx11-dev
  libasound2-dev alsa-utils
  libsndfile1-dev libsoxr-dev libspeexdsp-dev parallel
  xvfb xdotool x11-utils x11-apps imagemagick
  desktop-file-utils libxml2-utils shared-mime-info
  xfonts-base xfonts-75dpi xfonts-100dpi
  codec2 codec2-examples sox libsox-fmt-all lame espeak-ng flite
  python3 python3-numpy python3-scipy
  scdoc man-db groff-base file lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
