#!/usr/bin/env bash
# Installs, from Debian's packages, everything needed to build and test the plug-in.
# Idempotent and quiet: packages already present are not touched, and apt only runs
# when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git clang-format
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad
  libglib2.0-dev libspdlog-dev libfmt-dev libboost-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  i2c-tools
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO=sudo
  else
    echo "install-deps: missing packages (${missing[*]}) and not root" >&2
    exit 1
  fi
else
  SUDO=
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
