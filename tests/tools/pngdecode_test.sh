#!/bin/sh
# The pngdecode command line: result lines, --out, and exit statuses.
# usage: pngdecode_test.sh PNGDECODE PNGSUITE_DIR SIGTERM_AT_FSYNC_LIBRARY
set -u
tool=$1 suite=$2 sigterm_at_fsync=$3
. "$(dirname "$0")/checks.sh"

cp "$suite/basn0g01.png" "$work/ok.png"
cp "$suite/xs1n0g01.png" "$work/bad.png"
printf '\170\001\001\003\000\374\377abc' >"$work/abc.zlib" # one stored block: "abc"

out=$("$tool" "$work/ok.png" "$work/bad.png"); status=$?
check "a decoded PNG and a failed one" "$work/ok.png: ok 32 32|$work/bad.png: error 28|1" "$(echo "$out" | paste -sd'|')|$status"
check "zlib stream, its bytes written by --out" "$work/abc.zlib: ok 3|abc" \
    "$("$tool" --zlib --out "$work/abc" "$work/abc.zlib")|$(cat "$work/abc")"

# Hostile and unlucky outputs and inputs: nothing is lost, nothing blocks.
cp "$work/ok.png" "$work/keep.png"
ln "$work/ok.png" "$work/hard.png"
ln -s "$work/elsewhere.raw" "$work/dangling.raw"
cp "$work/ok.png" "$work/read-only.raw"
chmod 0444 "$work/read-only.raw"
for out in "$work/ok.png" "$work/hard.png" /dev/full "" "$work/dangling.raw" "$work/read-only.raw"; do
    lines=$("$tool" --out "$out" "$work/ok.png" 2>/dev/null)
    check "--out '$out' fails, with no ok line" "2|" "$?|$lines"
done
check "the input survives" "0" "$(cmp -s "$work/ok.png" "$work/keep.png"; echo $?)"
check "a read-only file survives" "0" "$(cmp -s "$work/read-only.raw" "$work/keep.png"; echo $?)"
# A sanitizer's runtime would otherwise refuse to load after the preloaded
# library; the shell's "Terminated" goes where pngdecode's lines go.
{ ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=$sigterm_at_fsync "$tool" --out "$work/keep.png" "$work/ok.png"; } \
    >/dev/null 2>&1
check "ended by SIGTERM midway: the old output kept, no temporary file left" "143|0|" \
    "$?|$(cmp -s "$work/keep.png" "$work/ok.png"; echo $?)|$(ls -A "$work" | grep pngdecode)"
check "a link to no file is not written through" "yes|no" \
    "$([ -L "$work/dangling.raw" ] && echo yes)|$([ -e "$work/elsewhere.raw" ] && echo yes || echo no)"
long=$(printf '%0255d' 0) # the longest name a file may have here
"$tool" --out "$work/$long" "$work/ok.png" >/dev/null
check "--out writes the RGBA pixels, to the longest name too" "0|4096" "$?|$(wc -c <"$work/$long" | tr -d ' ')"
check "lines lost to a full disk are no success" "2" "$("$tool" "$work/ok.png" 2>/dev/null >/dev/full; echo $?)"
check "nor lines lost to a closed output" "2" "$("$tool" "$work/ok.png" 2>/dev/null >&-; echo $?)"

check "--version" "yes" "$("$tool" --version | grep -qxE 'pngdecode [0-9]+\.[0-9]+\.[0-9]+' && echo yes)"

# Usage errors and inputs that cannot be read, none of which may block; each
# run's arguments split at the spaces.
mkfifo "$work/fifo.png"
for args in "" missing.png "--out x ok.png ok.png" "-- --help" /dev/zero fifo.png; do
    (cd "$work" && timeout 10 "$tool" $args >/dev/null 2>&1)
    check "pngdecode $args exits with 2" "2" "$?"
done
cp "$work/bad.png" "$work/two
lines.png"
check "a newline in a name" "$work/two\\nlines.png: error 28" "$("$tool" "$work/two
lines.png")"

finish pngdecode
