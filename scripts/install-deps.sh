#!/usr/bin/env bash
# Installs, from Debian's packages, everything needed to build and test the plug-in.
# Idempotent and quiet: packages already present are not touched, and apt only runs
# when something is missing.
#
#   install-deps.sh           the native (amd64) build and tests
#   install-deps.sh --armhf   also the 32-bit ARM cross build and its tests under qemu-user:
#                             the cross compiler, qemu-user and the armhf multiarch packages
set -euo pipefail

armhf=0
for arg in "$@"; do
  case "$arg" in
    --armhf) armhf=1 ;;
    *) echo "install-deps: unknown argument $arg" >&2; exit 2 ;;
  esac
done

packages=(
  build-essential cmake pkg-config git clang-format
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad
  libglib2.0-dev libspdlog-dev libfmt-dev libboost-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  gobject-introspection libgirepository1.0-dev python3-gi gir1.2-gstreamer-1.0
  i2c-tools
)

# The cross build links against Debian's armhf libraries, installed beside the native ones
# (multiarch). GStreamer's plugins-base development package cannot be installed for two
# architectures at once, so only its runtime libraries come as a package; its armhf
# pkg-config files are taken from the package archive below.
armhf_packages=(
  g++-arm-linux-gnueabihf qemu-user
  libgstreamer1.0-dev:armhf libgstreamer-plugins-base1.0-0:armhf liborc-0.4-dev:armhf
  libglib2.0-dev:armhf libspdlog-dev:armhf libfmt-dev:armhf libboost-dev:armhf
  libgtest-dev:armhf libgmock-dev:armhf
)
# Where the armhf pkg-config files of plugins-base go (cmake/toolchain-armhf.cmake reads it).
armhf_overlay=/opt/korsa-armhf

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO=sudo
  else
    SUDO=not-root
  fi
else
  SUDO=
fi
as_root() {
  if [ "$SUDO" = not-root ]; then
    echo "install-deps: need root for: $*" >&2
    exit 1
  fi
  $SUDO "$@"
}

if [ $armhf -eq 1 ]; then
  packages+=("${armhf_packages[@]}")
  if ! dpkg --print-foreign-architectures | grep -qx armhf; then
    echo "install-deps: adding the armhf architecture"
    as_root dpkg --add-architecture armhf
    need_update=1
  fi
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ] || [ "${need_update:-0}" -eq 1 ]; then
  echo "install-deps: installing ${missing[*]:-(package lists only)}"
  as_root apt-get update -qq >/dev/null
  if [ ${#missing[@]} -gt 0 ]; then
    as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi

if [ $armhf -eq 1 ]; then
  # The overlay matches the installed armhf runtime of plugins-base exactly.
  version=$(dpkg-query -W -f='${Version}' libgstreamer-plugins-base1.0-0:armhf)
  if [ "$(cat "$armhf_overlay/version" 2>/dev/null || true)" != "$version" ]; then
    echo "install-deps: armhf pkg-config files of plugins-base $version into $armhf_overlay"
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    (cd "$tmp" && apt-get download -qq "libgstreamer-plugins-base1.0-dev:armhf=$version" \
      >/dev/null 2>&1 || apt-get download -qq "libgstreamer-plugins-base1.0-dev:armhf=$version")
    dpkg-deb -x "$tmp"/libgstreamer-plugins-base1.0-dev_*_armhf.deb "$tmp/root"
    multi="$tmp/root/usr/lib/arm-linux-gnueabihf"
    as_root rm -rf "$armhf_overlay"
    as_root mkdir -p "$armhf_overlay/pkgconfig" "$armhf_overlay/lib"
    # The headers are the same for every architecture (the native package has them); the
    # libraries are linked through absolute links to the installed armhf runtime.
    for pc in "$multi"/pkgconfig/*.pc; do
      sed "s|^libdir=.*|libdir=$armhf_overlay/lib|" "$pc" |
        as_root tee "$armhf_overlay/pkgconfig/$(basename "$pc")" >/dev/null
    done
    for so in "$multi"/*.so; do
      as_root ln -s "/usr/lib/arm-linux-gnueabihf/$(readlink "$so")" \
        "$armhf_overlay/lib/$(basename "$so")"
    done
    echo "$version" | as_root tee "$armhf_overlay/version" >/dev/null
  fi
fi
