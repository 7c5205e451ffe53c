#!/bin/sh
# The shaders under the Khronos reference compiler: every file compiles on its own and every
# program's pair links, as GLSL 3.30 core and, with the version line the web build gives them,
# as GLSL ES 3.00, so that no driver's leniency hides an error in them.
# Usage: glslang_test.sh SHADER_DIR
set -eu
tmp=$(mktemp -d "${TMPDIR:-/tmp}/velmora-glslang-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/core" "$tmp/es"
# The reference compiler tells the stage by the name's ending. The ES copies take the web build's
# lines in place of the first (src/assets/glplatform.h); "#line 2" keeps the numbering.
es_version='#version 300 es\nprecision highp float;\nprecision highp int;\nprecision highp sampler2D;\n#line 2'
for f in "$1"/*.vs "$1"/*.fs; do
  name=$(basename "$f")
  case $name in *.vs) name="${name%.vs}.vert" ;; *) name="${name%.fs}.frag" ;; esac
  cp "$f" "$tmp/core/$name"
  head -n 1 "$f" | grep -q '^#version 330 core' || { echo "$f: first line is not #version 330 core"; exit 1; }
  { printf "$es_version\n"; tail -n +2 "$f"; } >"$tmp/es/$name"
done
passed=0 failed=0
check() {
  if glslangValidator "$@" >"$tmp/log" 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "glslangValidator $*:" && cat "$tmp/log"
  fi
}
for dialect in core es; do
  for f in "$tmp/$dialect"/*; do check "$f"; done
  # The ten programs, vertex file then fragment file.
  for pair in default:default moving:default sprite:sprite textsprite:textsprite dshadow:default \
              background:background background:heatshock background:postprocess background:rotate \
              background:meteor; do
    check -l "$tmp/$dialect/${pair%%:*}.vert" "$tmp/$dialect/${pair##*:}.frag"
  done
done
echo "$passed passed, $failed failed"
[ "$passed" -eq 48 ] && [ "$failed" -eq 0 ]
