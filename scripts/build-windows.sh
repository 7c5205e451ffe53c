#!/usr/bin/env bash
# Builds the Windows release, build-win64/velmora-win64.zip: velmora.exe (64-bit console program,
# GLFW, GLEW, SDL2 and the GCC runtime inside), libmpg123.dll beside it, data\ as the native
# build generates it, README.txt and the licences. Also cross-builds the portable test suites
# into build-win64/tree, for tests/windows/run.sh to run under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build-win64"
jobs=${VELMORA_JOBS:-2}
t0=$SECONDS

# The data is made by the native build's generators; the Windows build only packs it.
[ -f "$root/build/data/dunesong.mp3" ] || "$root/scripts/build.sh"

prefix=$("$root/scripts/win64-deps.sh")
export VELMORA_WIN64_PREFIX="$prefix"
tree="$out/tree"
# A tree configured against another prefix keeps that prefix's library paths in its cache.
if [ "$(cat "$out/deps-prefix" 2>/dev/null)" != "$prefix" ]; then rm -rf "$tree"; fi
mkdir -p "$out"
echo "$prefix" >"$out/deps-prefix"
cmake -S "$root" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/x86_64-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVELMORA_GENERATE_DATA=OFF -DVELMORA_DATA_FROM="$root/build/data" \
  -DCMAKE_CROSSCOMPILING_EMULATOR=wine >&2
cmake --build "$tree" -j"$jobs" >&2
x86_64-w64-mingw32-strip -o "$out/velmora.exe" "$tree/velmora.exe"

# The executable may import only Windows' own DLLs and libmpg123.
imports=$(x86_64-w64-mingw32-objdump -p "$out/velmora.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u)
allowed='^(KERNEL32|USER32|GDI32|SHELL32|ADVAPI32|OLE32|OLEAUT32|IMM32|VERSION|WINMM|SETUPAPI|CFGMGR32|OPENGL32|msvcrt|libmpg123)\.dll$'
if bad=$(grep -Eiv "$allowed" <<<"$imports"); then
  echo "build-windows: velmora.exe imports DLLs that Windows does not ship: $bad" >&2
  exit 1
fi

stage="$out/velmora-win64"
rm -rf "$stage" "$out/velmora-win64.zip"
mkdir -p "$stage/licenses"
cp "$out/velmora.exe" "$stage/"
cp "$prefix/bin/libmpg123.dll" "$stage/"
# build/data is also where CMake keeps that directory's build files: take only the run-time data.
mkdir -p "$stage/data"
for f in "$root"/build/data/*; do
  case ${f##*/} in CMakeFiles | Makefile | cmake_install.cmake | CTestTestfile.cmake) continue ;; esac
  cp -rL "$f" "$stage/data/"
done
cp "$prefix"/share/velmora-licences/*.txt "$stage/licenses/"
cp /usr/share/doc/mingw-w64-x86-64-dev/copyright "$stage/licenses/mingw-w64-runtime.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licenses/gcc-runtime.txt"
awk -v list="$prefix/SOURCES" '$0 == "@SOURCES@" { while ((getline l < list) > 0) if (l !~ /^googletest /) print "  " l; next } { print }' \
  "$root/scripts/win64/README.txt" | sed 's/$/\r/' >"$stage/README.txt"

# The same bytes for the same inputs: fixed times, sorted entries, no extra attributes.
stamp=$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)
find "$stage" -exec touch -h -d "@$stamp" {} +
(cd "$out" && find velmora-win64 | LC_ALL=C sort | zip -X -D -q -9 velmora-win64.zip -@)
echo "build-windows: $out/velmora-win64.zip ($(stat -c %s "$out/velmora-win64.zip") bytes;" \
  "velmora.exe $(stat -c %s "$out/velmora.exe") bytes) in $((SECONDS - t0)) s" >&2
echo "build-windows: velmora.exe imports" $imports >&2
