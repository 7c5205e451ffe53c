#!/usr/bin/env bash
# Builds the web release into build-web/: the page, the demo as WebAssembly, its data as one
# gzipped package (the native build makes the data), and velmora-web.zip of them. The stills
# program that the browser tests use goes to build-web/test/, outside the release.
# --native-built: the native build has just run (the test command), so it is not run again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build-web"
t0=$SECONDS

[ "${1:-}" = --native-built ] || "$root/scripts/build.sh"
mkdir -p "$out"
# The data as the demo reads it under data/, in a fixed order with fixed owners and times, so the
# same data gives the same package. Packed while the program compiles.
(cd "$root/build" &&
  tar --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner --format=ustar --dereference -cf - \
    data/dunesong.mp3 data/shaders data/textures data/walk) | gzip -n -9 >"$out/velmora-data.tar.gz.part" &
packing=$!

prefix=$("$root/scripts/web-deps.sh")

# Emscripten's link step needs Debian's acorn on the module path.
export NODE_PATH=/usr/share/nodejs
emcmake cmake -S "$root" -B "$out/cmake" -DCMAKE_BUILD_TYPE=Release -DVELMORA_GENERATE_DATA=OFF \
  -DVELMORA_BUILD_TESTS=OFF -DCMAKE_FIND_ROOT_PATH="$prefix" -DVELMORA_RUN_DIR="$out/cmake/run" >&2
cmake --build "$out/cmake" -j"$(nproc)" --target velmora velmora-stills >&2

release="$out/velmora-web"
rm -rf "$release" "$out/test"
mkdir -p "$release/licences" "$out/test"
cp "$root/src/app/web/index.html" "$root/src/app/web/page.js" "$root/src/app/web/data.js" \
  "$out/cmake/run/velmora.js" \
  "$out/cmake/run/velmora.wasm" "$release/"
cp "$prefix/share/velmora-licences/"* "$release/licences/"
cp "$out/cmake/tools/offscreen/velmora-stills.js" "$out/cmake/tools/offscreen/velmora-stills.wasm" "$out/test/"

wait "$packing" || { echo "build-web: packing the data failed" >&2; exit 1; }
mv "$out/velmora-data.tar.gz.part" "$release/velmora-data.tar.gz"

rm -f "$out/velmora-web.zip"
(cd "$out" && zip -q -r -X velmora-web.zip velmora-web)
size() { du -k "$1" | cut -f1; }
echo "build-web: $release in $((SECONDS - t0)) s: velmora.js $(size "$release/velmora.js") KiB," \
  "velmora.wasm $(size "$release/velmora.wasm") KiB, data $(size "$release/velmora-data.tar.gz") KiB" \
  "(from $(du -sk --apparent-size -L "$root/build/data/textures" "$root/build/data/walk" \
  "$root/build/data/shaders" "$root/build/data/dunesong.mp3" | awk '{s+=$1} END {print s}') KiB)," \
  "zip $(size "$out/velmora-web.zip") KiB" >&2
