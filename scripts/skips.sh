# What the test runs skipped, and why: sourced by scripts/test.sh and tests/windows/run.sh. Each
# function appends "SUITE: TEST: REASON" lines, one per skipped test, to the file it is given.

# skips_from_junit JUNIT SUITE OUT: the tests ctest reports skipped in its JUnit file, with the
# reason GoogleTest printed under "Skipped".
skips_from_junit() {
  [ -f "$1" ] || return 0
  awk -v suite="$2" '
    /<testcase / { match($0, /name="[^"]*"/); name = substr($0, RSTART + 6, RLENGTH - 7); skipped = 0; reason = "" }
    /<skipped/ { skipped = 1 }
    want { reason = $0; want = 0 }
    /: Skipped$/ { want = 1 }
    /<\/testcase>/ { if (skipped) print suite ": " name ": " (reason == "" ? "(no reason printed)" : reason); skipped = 0 }
  ' "$1" >>"$3"
}

# skips_from_log LOG SUITE OUT: the same from GoogleTest's own output in a ctest -V log, where a
# skip inside a suite does not show as a skipped ctest test.
skips_from_log() {
  [ -f "$1" ] || return 0
  awk -v suite="$2" '
    { sub(/^[0-9]+: /, "") }
    want { reason = $0; want = 0 }
    /: Skipped$/ { want = 1 }
    /^\[  SKIPPED \] [^ ]+ \(/ { print suite ": " $4 ": " reason; reason = "" }
  ' "$1" >>"$3"
}
