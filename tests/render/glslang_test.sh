#!/bin/sh
# The shaders under the Khronos reference compiler: every file compiles on its own and every
# program's pair links, so that no driver's leniency hides an error in them.
# Usage: glslang_test.sh SHADER_DIR
set -eu
tmp=$(mktemp -d "${TMPDIR:-/tmp}/velmora-glslang-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/src"
# The reference compiler tells the stage by the name's ending.
for f in "$1"/*.vs; do cp "$f" "$tmp/src/$(basename "$f" .vs).vert"; done
for f in "$1"/*.fs; do cp "$f" "$tmp/src/$(basename "$f" .fs).frag"; done
passed=0 failed=0
check() {
  if glslangValidator "$@" >"$tmp/log" 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "glslangValidator $*:" && cat "$tmp/log"
  fi
}
for f in "$tmp"/src/*; do check "$f"; done
# The ten programs, vertex file then fragment file.
for pair in default:default moving:default sprite:sprite textsprite:textsprite dshadow:default \
            background:background background:heatshock background:postprocess background:rotate \
            background:meteor; do
  check -l "$tmp/src/${pair%%:*}.vert" "$tmp/src/${pair##*:}.frag"
done
echo "$passed passed, $failed failed"
[ "$passed" -eq 24 ] && [ "$failed" -eq 0 ]
