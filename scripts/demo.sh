#!/usr/bin/env bash
# Sets everything up, builds, and makes a ready working directory in demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
rm -rf demo
build/bin/vtsinit demo --modem 1
echo
echo "Working directory demo/:"
ls -lR demo
