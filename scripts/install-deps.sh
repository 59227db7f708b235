#!/usr/bin/env bash
# Installs the Debian 12 packages that the build needs, and nothing that is already there.
#   scripts/install-deps.sh          what building and running needs
#   scripts/install-deps.sh test     also what the tests and benchmarks need
#   scripts/install-deps.sh fuzz     also clang and its libFuzzer, for fuzz/run.sh
#   scripts/install-deps.sh display  also a virtual display for machines without one (and what
#                                    data/screenshot.sh drives it with)
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config python3 libjpeg62-turbo-dev zlib1g-dev
          qt6-base-dev libgl-dev qt6-translations-l10n fonts-noto-cjk
          libgif-dev libtiff-dev libwebp-dev libheif-dev libjxl-dev liblcms2-dev)
case "${1:-}" in
  test) packages+=(libgtest-dev libbenchmark-dev libpng-dev
                  imagemagick gifsicle libtiff-tools python3-pil libimage-exiftool-perl libjpeg-turbo-progs webp libheif-examples libjxl-tools
                  dpkg-dev lintian file desktop-file-utils appstream groff-base parallel) ;;
  fuzz) packages+=(clang libclang-rt-14-dev) ;;
  display) packages+=(xvfb xauth imagemagick xdotool) ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
