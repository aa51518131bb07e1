# Shared by the command-line tests: a scratch folder `work`, removed on exit,
# and `check NAME EXPECTED ACTUAL`, which reports a mismatch and counts it in
# `failures`. Source it, then end with `finish NAME`.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

check() {
    [ "$2" = "$3" ] && return
    printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
    failures=$((failures + 1))
}

finish() {
    [ "$failures" -eq 0 ] && echo "$1: all checks passed"
    exit "$failures"
}
