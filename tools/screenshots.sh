#!/usr/bin/env bash
# Pictures of every window of the configuration program, taken under a
# virtual X display (Debian's xvfb). Usage:
#   tools/screenshots.sh [OUTPUT-FOLDER]     (default: build/screenshots)
# BUILD names the build folder (default: build); the program vtsconfigshots
# is built there first when it is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$root/build}"
out="${1:-$build/screenshots}"

if [ ! -x "$build/bin/vtsconfigshots" ]; then
  cmake -S "$root" -B "$build" -G Ninja >/dev/null
  cmake --build "$build" --target vtsconfigshots -j2
fi
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (apt-get install xvfb xauth)" >&2; exit 1; }

mkdir -p "$out"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" "$build/bin/vtsconfigshots" "$out"
echo "Screenshots in $out"
