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
for bin in libglfw3-dev libglew-dev libsdl2-dev libmpg123-dev googletest; do
  read -r src ver < <(dpkg-query -W -f '${source:Package} ${source:Version}\n' "$bin")
  srcver[$src]=$ver
done

key=$( { for s in $(printf '%s\n' "${!srcver[@]}" | sort); do echo "$s=${srcver[$s]}"; done
         x86_64-w64-mingw32-g++-posix --version | head -n1
         cat "$toolchain" "$0"; } | sha256sum | cut -c1-16)
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

# apt-get source through a configuration of our own: the machine's Debian archives as deb-src,
# with lists and downloads in this run's directory; the machine's sources stay as they are.
apt_dir="$work/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/parts" "$work/src"
origin=/etc/apt/sources.list.d/debian.sources
if [ -f "$origin" ] && grep -q '^Types: *deb$' "$origin"; then
  sed 's/^Types: *deb$/Types: deb-src/' "$origin" >"$apt_dir/parts/debian-src.sources"
  touch "$apt_dir/sources.list"
else
  . /etc/os-release
  printf 'deb-src http://deb.debian.org/debian %s main\ndeb-src http://deb.debian.org/debian %s-updates main\ndeb-src http://deb.debian.org/debian-security %s-security main\n' \
    "$VERSION_CODENAME" "$VERSION_CODENAME" "$VERSION_CODENAME" >"$apt_dir/sources.list"
fi
apt_private=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts="$apt_dir/parts"
             -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache::pkgcache="" -o Dir::Cache::srcpkgcache=""
             -o APT::Sandbox::User=root -o quiet=2)
echo "win64-deps: fetching glfw3 glew libsdl2 mpg123 sources from Debian" >&2
apt-get "${apt_private[@]}" update >&2
fetch() {  # source package, into $work/src
  local spec="$1=${srcver[$1]}" uri file size hash
  (cd "$work/src" && apt-get "${apt_private[@]}" source --download-only "$spec" >/dev/null 2>&1) && return
  # Some archive mirrors lack the upstream signatures (.asc) that a source package lists; they are
  # not needed to build, so fetch the rest one by one, each checked against the index's hash.
  while read -r uri file size hash; do
    case $file in *.asc) continue ;; esac
    [ -f "$work/src/$file" ] ||
      /usr/lib/apt/apt-helper "${apt_private[@]}" download-file "$uri" "$work/src/$file" "$hash" >/dev/null
  done < <(apt-get "${apt_private[@]}" --print-uris source "$spec" 2>/dev/null | sed -n "s/^'\([^']*\)' /\1 /p")
}
for s in glfw3 glew libsdl2 mpg123; do fetch "$s"; done

# Every file a .dsc names must match its SHA-256 there (apt has checked the .dsc itself against
# the archive's signed index); only an absent upstream signature is let pass.
check_dsc() {
  local dsc=$1 sum file
  awk '/^Checksums-Sha256:/ {on=1; next} /^[^ ]/ {on=0} on && NF==3 {print $1, $3}' "$dsc" |
  while read -r sum file; do
    if [ ! -f "$work/src/$file" ]; then
      case $file in *.asc) continue ;; esac
      echo "win64-deps: $file missing" >&2; exit 1
    fi
    echo "$sum  $work/src/$file" | sha256sum --quiet -c - >&2 ||
      { echo "win64-deps: checksum mismatch for $file in $dsc" >&2; exit 1; }
  done
}
# A "3.0 (quilt)" source package unpacked as dpkg-source would: the upstream tarball, the debian/
# tarball over it, then Debian's patches in series order. Prints the tree.
unpack() {
  local dsc dir orig deb p
  dsc=$(ls "$work/src/$1"_*.dsc)
  check_dsc "$dsc"
  grep -q '^Format: 3.0 (quilt)' "$dsc" || { echo "win64-deps: $dsc: unexpected format" >&2; exit 1; }
  dir="$work/src/$1"
  mkdir -p "$dir"
  orig=$(ls "$work/src/$1"_*.orig.tar.* | grep -v '\.asc$')
  deb=$(ls "$work/src/$1"_*.debian.tar.*)
  tar -xf "$orig" -C "$dir" --strip-components=1
  rm -rf "$dir/debian"
  tar -xf "$deb" -C "$dir"
  if [ -f "$dir/debian/patches/series" ]; then
    sed -e 's/#.*//' "$dir/debian/patches/series" | while read -r p _; do
      [ -n "$p" ] && patch -d "$dir" -p1 -s -N <"$dir/debian/patches/$p" >&2
    done
  fi
  echo "$dir"
}

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

glfw=$(unpack glfw3)
cp "$glfw/LICENSE.md" "$licences/glfw-LICENSE.txt"
cmake_dep glfw "$glfw" -DBUILD_SHARED_LIBS=OFF -DGLFW_BUILD_EXAMPLES=OFF -DGLFW_BUILD_TESTS=OFF \
  -DGLFW_BUILD_DOCS=OFF

# GLEW's release tree ships the generated glew.c: one file, built static.
glew=$(unpack glew)
echo "win64-deps: building glew" >&2
mkdir -p "$stage/include/GL" "$stage/lib" "$work/build-glew"
x86_64-w64-mingw32-gcc-posix -O2 -DGLEW_STATIC -DGLEW_NO_GLU -I"$glew/include" -c "$glew/src/glew.c" \
  -o "$work/build-glew/glew.o"
x86_64-w64-mingw32-ar rcs "$stage/lib/libglew32s.a" "$work/build-glew/glew.o"
cp "$glew"/include/GL/{glew,wglew}.h "$stage/include/GL/"
cp "$glew/LICENSE.txt" "$licences/glew-LICENSE.txt"

# SDL2 whole: the demo uses only its audio, but 2.26 does not link on Windows with video left out.
sdl2=$(unpack libsdl2)
cp "$sdl2/LICENSE.txt" "$licences/SDL2-LICENSE.txt"
cmake_dep sdl2 "$sdl2" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL2_DISABLE_SDL2MAIN=ON

mpg123=$(unpack mpg123)
cmake_dep mpg123 "$mpg123/ports/cmake" -DBUILD_SHARED_LIBS=ON -DBUILD_PROGRAMS=OFF -DBUILD_LIBOUT123=OFF -DBUILD_LIBSYN123=OFF
cp "$mpg123/COPYING" "$licences/mpg123-COPYING.txt"

cmake_dep googletest /usr/src/googletest -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF

# Which Debian sources went in, for the release notes.
for s in $(printf '%s\n' "${!srcver[@]}" | sort); do echo "$s ${srcver[$s]}"; done >"$stage/SOURCES"

touch "$prefix/.complete"
echo "win64-deps: built into $prefix" >&2
echo "$prefix"
