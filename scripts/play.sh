#!/usr/bin/env bash
# Sets up, builds and plays the demo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
cd "$root/build" && exec ./velmora
