#!/usr/bin/env bash
# Cross-builds the demo's libraries for 64-bit Windows from Debian's own source packages, of the
# versions the Linux build links, and prints the prefix that holds them. GLFW, GLEW and SDL2 are
# static; libmpg123 is a DLL (LGPL: replaceable beside the executable); GoogleTest comes from
# /usr/src/googletest. The prefix is cached outside the checkout, keyed by those versions, the
# toolchain file and this script, and reused while the key holds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
toolchain="$root/cmake/x86_64-w64-mingw32.cmake"
jobs=${VELMORA_JOBS:-2}

# Source package and version behind each library the Linux build links.
declare -A srcver
source "$root/scripts/debian-source.sh"
for bin in libglfw3-dev libglew-dev libsdl2-dev libmpg123-dev googletest; do
  read -r src ver < <(debsrc_of "$bin")
  srcver[$src]=$ver
done

key=$( { for s in $(printf '%s\n' "${!srcver[@]}" | sort); do echo "$s=${srcver[$s]}"; done
         x86_64-w64-mingw32-g++-posix --version | head -n1
         cat "$toolchain" "$0" "$root/scripts/debian-source.sh"; } | sha256sum | cut -c1-16)
if [ -z "${VELMORA_WIN64_CACHE:-}" ]; then
  if [ -w /var/cache ] || [ -w /var/cache/velmora-win64 ]; then VELMORA_WIN64_CACHE=/var/cache/velmora-win64
  else VELMORA_WIN64_CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/velmora-win64; fi
fi
prefix="$VELMORA_WIN64_CACHE/$key"
if [ -f "$prefix/.complete" ]; then
  echo "win64-deps: cached in $prefix" >&2
  echo "$prefix"
  exit 0
fi

mkdir -p "$VELMORA_WIN64_CACHE"
work=$(mktemp -d "$VELMORA_WIN64_CACHE/build-XXXXXX")
trap 'rm -rf "$work"' EXIT
# Installed in place (the libraries' CMake packages name their prefix); complete only once marked.
stage="$prefix"
rm -rf "$stage"
mkdir -p "$stage"

debsrc_tag=win64-deps
echo "win64-deps: fetching glfw3 glew libsdl2 mpg123 sources from Debian" >&2
debsrc_init
for s in glfw3 glew libsdl2 mpg123; do debsrc_fetch "$s" "${srcver[$s]}"; done

cmake_dep() {  # name source-dir cmake-args...
  local name=$1 src=$2
  shift 2
  echo "win64-deps: building $name" >&2
  local t0=$SECONDS
  cmake -S "$src" -B "$work/build-$name" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$stage" "$@" >"$work/$name.log" 2>&1 &&
  cmake --build "$work/build-$name" -j"$jobs" >>"$work/$name.log" 2>&1 &&
  cmake --install "$work/build-$name" >>"$work/$name.log" 2>&1 ||
    { tail -n 40 "$work/$name.log" >&2; echo "win64-deps: $name failed" >&2; exit 1; }
  echo "win64-deps: $name built in $((SECONDS - t0)) s" >&2
}
export VELMORA_WIN64_PREFIX="$stage"

# The licence texts that go into the release with each library.
licences="$stage/share/velmora-licences"
mkdir -p "$licences"

glfw=$(debsrc_unpack glfw3)
cp "$glfw/LICENSE.md" "$licences/glfw-LICENSE.txt"
cmake_dep glfw "$glfw" -DBUILD_SHARED_LIBS=OFF -DGLFW_BUILD_EXAMPLES=OFF -DGLFW_BUILD_TESTS=OFF \
  -DGLFW_BUILD_DOCS=OFF

# GLEW's release tree ships the generated glew.c: one file, built static.
glew=$(debsrc_unpack glew)
echo "win64-deps: building glew" >&2
mkdir -p "$stage/include/GL" "$stage/lib" "$work/build-glew"
x86_64-w64-mingw32-gcc-posix -O2 -DGLEW_STATIC -DGLEW_NO_GLU -I"$glew/include" -c "$glew/src/glew.c" \
  -o "$work/build-glew/glew.o"
x86_64-w64-mingw32-ar rcs "$stage/lib/libglew32s.a" "$work/build-glew/glew.o"
cp "$glew"/include/GL/{glew,wglew}.h "$stage/include/GL/"
cp "$glew/LICENSE.txt" "$licences/glew-LICENSE.txt"

# SDL2 whole: the demo uses only its audio, but 2.26 does not link on Windows with video left out.
sdl2=$(debsrc_unpack libsdl2)
cp "$sdl2/LICENSE.txt" "$licences/SDL2-LICENSE.txt"
cmake_dep sdl2 "$sdl2" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL2_DISABLE_SDL2MAIN=ON

mpg123=$(debsrc_unpack mpg123)
cmake_dep mpg123 "$mpg123/ports/cmake" -DBUILD_SHARED_LIBS=ON -DBUILD_PROGRAMS=OFF -DBUILD_LIBOUT123=OFF -DBUILD_LIBSYN123=OFF
cp "$mpg123/COPYING" "$licences/mpg123-COPYING.txt"

cmake_dep googletest /usr/src/googletest -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF

# Which Debian sources went in, for the release notes.
for s in $(printf '%s\n' "${!srcver[@]}" | sort); do echo "$s ${srcver[$s]}"; done >"$stage/SOURCES"

touch "$prefix/.complete"
echo "win64-deps: built into $prefix" >&2
echo "$prefix"
