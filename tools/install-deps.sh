#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Idempotent: packages already present are not touched. Uses sudo when not root.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config
  juce-modules-source
  libflac-dev libogg-dev libvorbis-dev libasound2-dev libfreetype-dev
  libx11-dev libxext-dev libxinerama-dev libxrandr-dev libxcursor-dev libgl-dev
  catch2 libbenchmark-dev
  clang libclang-rt-14-dev
  lilv-utils lv2-dev
  xvfb xauth
  fonts-manrope
  fonts-dejavu-core
)

if [ "${1:-}" = "--list" ]; then printf '%s\n' "${PACKAGES[@]}"; exit 0; fi

missing=()
for p in "${PACKAGES[@]}" "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
