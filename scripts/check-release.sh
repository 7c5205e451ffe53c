#!/usr/bin/env bash
# Fails if any executable in the given build tree carries a sanitizer runtime.
set -euo pipefail
tree=${1:?usage: check-release.sh BUILD_DIR}
bad=0
checked=0
while IFS= read -r -d '' exe; do
  head -c 4 "$exe" | grep -q $'^\x7fELF' || continue
  checked=$((checked + 1))
  if readelf -d "$exe" 2>/dev/null | grep -Eq 'NEEDED.*lib(a|ub|t|l|m)san' ||
     readelf -s --wide "$exe" 2>/dev/null | grep -Eq ' __(asan|ubsan|tsan|msan)_'; then
    echo "check-release: $exe is an instrumented build" >&2
    bad=1
  fi
done < <(find "$tree" -path "$tree/CMakeFiles" -prune -o -type f -perm -u+x -print0)
[ "$checked" -gt 0 ] || { echo "check-release: no executables in $tree" >&2; exit 1; }
[ "$bad" -eq 0 ] || exit 1
echo "check-release: $checked executables in $tree, none instrumented" >&2
