#!/bin/sh
# Builds the TGA fuzz target with clang's libFuzzer, ASan and UBSan, seeds a
# corpus, and runs it.
#   run_tga_fuzz.sh WORKDIR [libFuzzer options...]
# e.g. run_tga_fuzz.sh build-fuzz -max_total_time=600
# Exits 77 (skipped) when clang++ or its fuzzer runtime is missing.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
work=${1:?usage: run_tga_fuzz.sh WORKDIR [libFuzzer options...]}
shift
CXX=${FUZZ_CXX:-clang++}

if ! command -v "$CXX" >/dev/null 2>&1; then
    echo "tga fuzz: $CXX not found, skipped" >&2
    exit 77
fi
mkdir -p "$work/corpus" "$work/artifacts"
if ! "$CXX" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        -I"$root/src" "$here/tga_fuzz.cpp" "$root/src/assets/tga_read.cpp" -o "$work/tga_fuzz.new"; then
    # A missing fuzzer runtime is a skip, a compile error in our code is not.
    if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
            "$CXX" -x c++ -fsanitize=fuzzer - -o "$work/probe" >/dev/null 2>&1; then
        echo "tga fuzz: $CXX has no libFuzzer runtime, skipped" >&2
        exit 77
    fi
    exit 1
fi
mv "$work/tga_fuzz.new" "$work/tga_fuzz"

# Seeds: one small good image of each depth, one with an image ID.
seed() { printf "$2" > "$work/corpus/$1"; }
seed gray8  '\0\0\3\0\0\0\0\0\0\0\0\0\2\0\2\0\10\0\1\2\3\4'
seed bgr24  '\0\0\2\0\0\0\0\0\0\0\0\0\1\0\1\0\30\0\1\2\3'
seed bgra32 '\0\0\2\0\0\0\0\0\0\0\0\0\1\0\2\0\40\50\1\2\3\4\5\6\7\10'
seed withid '\3\0\2\0\0\0\0\0\0\0\0\0\1\0\1\0\30\0abc\1\2\3'

cd "$work"
exec ./tga_fuzz -artifact_prefix=artifacts/ "$@" corpus
