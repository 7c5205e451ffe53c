#!/usr/bin/env bash
# Configures and builds the demo, its tools and its data into build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release "$@" >&2
cmake --build "$root/build" -j"$(nproc)" >&2
