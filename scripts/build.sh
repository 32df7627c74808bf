#!/usr/bin/env bash
# Configures and builds Orbelan in ./build (Release). Extra arguments go to cmake's configure step.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$here/build" -j"$(nproc)"
