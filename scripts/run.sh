#!/usr/bin/env bash
# Builds the player and starts it. Extra arguments go to the player.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build --target plombix plombix_ndi plombix-monitor
exec build/bin/plombix "$@"
