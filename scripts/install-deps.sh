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
  curl libnet-snpp-perl libnet-smpp-perl hylafax-client libdevice-gsm-perl swaks libsodium-dev
  xvfb xauth fonts-dejavu-core
  scdoc man-db groff-base dpkg-dev file systemd libsystemd-dev
  lintian devscripts
  qt6-httpserver-dev qt6-websockets-dev chromium chromium-driver python3-selenium
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# axe-core, the accessibility checker the web console's browser tests run
# on every page, from the npm registry into build/web-axe (the tests say
# so and go on without it when the registry cannot be reached).
axe_dir="$(dirname "$0")/../build/web-axe"
# npm comes with some Node.js builds; Debian's own package otherwise.
if ! command -v npm >/dev/null; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends npm >/dev/null ||
    echo "install-deps: npm could not be installed" >&2
fi
if [ ! -f "$axe_dir/node_modules/axe-core/axe.min.js" ] && command -v npm >/dev/null; then
  mkdir -p "$axe_dir"
  (cd "$axe_dir" && timeout 300 npm install --no-save --no-audit --no-fund --loglevel=error axe-core@4.10 >/dev/null) ||
    echo "install-deps: axe-core could not be installed from npm; accessibility checks are skipped" >&2
fi
