#!/usr/bin/env bash
# Builds libmpg123 for WebAssembly from Debian's source package, of the version the Linux build
# links, and prints the prefix that holds it. The browser's own MP3 decoders differ on the
# encoder's delay; ours is gapless everywhere. Cached outside the checkout, keyed by the version,
# the compiler and this script, and reused while the key holds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/debian-source.sh"
debsrc_tag=web-deps
jobs=${VELMORA_JOBS:-2}

read -r src ver < <(debsrc_of libmpg123-dev)
key=$( { echo "$src=$ver"; emcc --version | head -n1; cat "$0" "$root/scripts/debian-source.sh"; } |
       sha256sum | cut -c1-16)
if [ -z "${VELMORA_WEB_CACHE:-}" ]; then
  if [ -w /var/cache ] || [ -w /var/cache/velmora-web ]; then VELMORA_WEB_CACHE=/var/cache/velmora-web
  else VELMORA_WEB_CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/velmora-web; fi
fi
prefix="$VELMORA_WEB_CACHE/$key"
if [ -f "$prefix/.complete" ]; then
  echo "web-deps: cached in $prefix" >&2
  echo "$prefix"
  exit 0
fi

mkdir -p "$VELMORA_WEB_CACHE"
work=$(mktemp -d "$VELMORA_WEB_CACHE/build-XXXXXX")
trap 'rm -rf "$work"' EXIT
rm -rf "$prefix"
mkdir -p "$prefix"

echo "web-deps: fetching $src $ver from Debian" >&2
debsrc_init
debsrc_fetch "$src" "$ver"
mpg123=$(debsrc_unpack "$src")

echo "web-deps: building libmpg123" >&2
t0=$SECONDS
# Emscripten's link step needs Debian's acorn on the module path.
export NODE_PATH=/usr/share/nodejs
# Its CMake port calls check_type_size without including it, and cannot read the sizes off a
# WebAssembly object: they are given (wasm32: 32-bit long, 64-bit off_t). Only the library is
# built; the port's dynamic-loading helper does not compile for the web and is not needed.
echo 'include(CheckTypeSize)' >"$work/include.cmake"
{ emcmake cmake -S "$mpg123/ports/cmake" -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_LIBOUT123=OFF -DBUILD_LIBSYN123=OFF \
    -DCPU=generic_fpu -DCMAKE_PROJECT_INCLUDE="$work/include.cmake" \
    -DHAVE_SIZEOF_OFF_T=TRUE -DSIZEOF_OFF_T=8 -DHAVE_SIZEOF_LONG=TRUE -DSIZEOF_LONG=4 &&
  cmake --build "$work/build" -j"$jobs" --target libmpg123; } >"$work/mpg123.log" 2>&1 ||
  { tail -n 40 "$work/mpg123.log" >&2; echo "web-deps: libmpg123 failed" >&2; exit 1; }
mkdir -p "$prefix/lib" "$prefix/include"
cp "$work/build/src/libmpg123/libmpg123.a" "$prefix/lib/"
cp "$work/build/src/libmpg123/mpg123.h" "$mpg123/src/libmpg123/fmt123.h" "$prefix/include/"
mkdir -p "$prefix/share/velmora-licences"
cp "$mpg123/COPYING" "$prefix/share/velmora-licences/mpg123-COPYING.txt"
echo "web-deps: libmpg123 built in $((SECONDS - t0)) s" >&2

touch "$prefix/.complete"
echo "$prefix"
