#!/usr/bin/env bash
# Installs the Debian 12 packages the suite needs to build, test and run.
# Runs apt-get only when something is missing; uses sudo when not root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config clang-format clang-tidy
  qt6-base-dev qt6-multimedia-dev libqt6opengl6-dev
  libsqlite3-dev sqlite3 libcurl4-openssl-dev libicu-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-aiosmtpd poppler-utils openssl iproute2 util-linux
  curl libnet-snpp-perl hylafax-client libdevice-gsm-perl swaks libsodium-dev
  xvfb xauth fonts-dejavu-core
  scdoc man-db groff-base dpkg-dev file systemd libsystemd-dev
  lintian devscripts
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
