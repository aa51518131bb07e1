#!/bin/sh
# The levelcheck command line, and the shipped level pack: every level playable,
# 100 x 100, carrying no score, and the very pixels scripts/make-levels writes
# (compared decoded, so that another zlib's compressed bytes do not matter).
# usage: levelcheck_test.sh LEVELCHECK PNGDECODE REPOSITORY PNGSUITE_DIR
set -u
tool=$1 pngdecode=$2 repo=$3 suite=$4
. "$(dirname "$0")/checks.sh"

out=$("$tool" "$repo"/levels/level*.png); status=$?
check "shipped levels are playable" "0" "$status"
check "at least six levels" "yes" "$([ "$(echo "$out" | grep -c ': playable 100 x 100, ')" -ge 6 ] && echo yes)"
check "no shipped level carries a score or has a warning" "0" "$(echo "$out" | grep -c -e ', best ' -e 'warning')"

"$repo/scripts/make-levels" "$work" >/dev/null
for level in "$repo"/levels/level*.png; do
    name=$(basename "$level")
    "$pngdecode" --out "$work/shipped.rgba" "$level" >/dev/null
    "$pngdecode" --out "$work/made.rgba" "$work/$name" >/dev/null
    cmp -s "$work/shipped.rgba" "$work/made.rgba"
    check "make-levels reproduces $name" "0" "$?"
done

cp "$suite/basn2c08.png" "$work/open.png"
printf '\065\201\000\010\007\000\000\000' >>"$work/open.png" # a trailer holding 7
check "no file is a usage error" "2" "$("$tool" >/dev/null 2>&1; echo $?)"
check "-h is help wherever it stands" "0" "$("$tool" -h x >/dev/null; echo $?)"
check "--version" "yes" "$("$tool" --version | grep -qxE 'levelcheck [0-9]+\.[0-9]+\.[0-9]+' && echo yes)"
check "lines lost to a full disk are no success" "2" "$("$tool" "$work/open.png" 2>/dev/null >/dev/full; echo $?)"
check "nor lines lost to a closed output" "2" "$("$tool" "$work/open.png" 2>/dev/null >&-; echo $?)"

cp "$suite/basn0g01.png" "$work/wide.png"
printf '\000\000\004\001' | dd of="$work/wide.png" bs=1 seek=16 conv=notrunc 2>/dev/null # 1025 wide
truncate -s 33M "$work/big.png"
mkfifo "$work/fifo.png"
cp "$work/open.png" "$work/two
lines.png"
cp "$suite/basn6a08.png" "$suite/xs1n0g01.png" "$work"
out=$(cd "$work" && timeout 10 "$tool" -- -h wide.png big.png fifo.png basn6a08.png xs1n0g01.png "two
lines.png"); status=$?
check "refusals with their reasons, and a playable level with a best" "-h: refused: cannot be opened|wide.png: refused: wider or taller than 1024 squares|big.png: refused: larger than 32 MiB|fifo.png: refused: not a regular file|basn6a08.png: refused: 32 x 32, 416 open, 608 walls, no five open cells side by side in a row|xs1n0g01.png: refused: not a PNG image the game can decode (error 28)|two\\nlines.png: playable 32 x 32, 1024 open, 0 walls, snake (0,0) to (3,0) heading right, best 7; warning: the snake starts under the score line; warning: the snake starts on or next to an open border|1" \
    "$(printf '%s\n' "$out" | paste -sd'|')|$status" # dash's echo would undo the escape

# wall-level.png is 101 x 5, all wall but five open squares on row 3 from
# column 1: a snake that faces a wall two squares ahead, on a level wider than the window.
cp "$(dirname "$0")/wall-level.png" "$work/wall.png"
check "warnings" "$work/wall.png: playable 101 x 5, 5 open, 500 walls, snake (1,3) to (4,3) heading right; warning: \
the snake faces a wall 2 squares ahead; warning: larger than the 100 x 100 squares the window shows|0" \
    "$("$tool" "$work/wall.png")|$?"

finish levelcheck
