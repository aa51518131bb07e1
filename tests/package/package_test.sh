#!/bin/sh
# The Debian package, as a player meets it: made from the build, unpacked into
# a scratch root, its launcher started with a home of its own. It must give the
# player a folder with the shipped levels and start the game there, never
# replace a level already there (its score lives in it), put a level under its
# name only whole, start the game though a level cannot be copied or other
# starts copy at the same time, play a folder that holds level1.png in place,
# and leave the installed files as they came. (The package's maker validates
# its desktop entry and metainfo.)
# usage: package_test.sh MAKE_DEB BUILD_DIR   (with DISPLAY set, xdotool on the PATH)
set -u
make_deb=$1 build=$2
. "$(dirname "$0")/../tools/checks.sh"

if ! command -v dpkg-deb >/dev/null || ! command -v dpkg-shlibdeps >/dev/null; then
    echo "package: skipped, dpkg-deb or dpkg-shlibdeps is missing (scripts/install-deps installs them)"
    exit 0
fi

"$make_deb" "$build" "$work" >/dev/null
check "the package is made" "0" "$?"
dpkg-deb -x "$work"/kestrivane_*.deb "$work/root"
dpkg-deb -e "$work"/kestrivane_*.deb "$work/control"
export HOME="$work/home" XDG_DATA_HOME="$work/data"
mkdir -p "$HOME" "$work/elsewhere" "$work/pack"
levels=$work/data/kestrivane launcher=$work/root/usr/games/kestrivane
whole=$(cd "$work/root/usr/share/games/kestrivane/levels" && md5sum level*.png)

# Starts the launcher in folder $1, and sets `played` to the folder the game plays in.
play_from() {
    (cd "$1" && exec timeout 20 "$launcher" >"$work/out" 2>&1) &
    pid=$!
    window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kestrivane$' | head -n 1)
    check "the title screen shows from $1" "yes" "$([ -n "$window" ] && kill -0 "$pid" && echo yes)"
    game=$(pgrep -P "$pid" -x kestrivane)
    played=$(readlink "/proc/$game/cwd")
    kill "$game" 2>/dev/null
    wait "$pid"
}

# Before the first start: the copy left by a start cut short, and a start that
# cannot write a whole level (each is over 8 KiB). Neither may leave a trace
# that the checks below would see: a part of a level, or the copy.
mkdir -p "$levels/.kestrivane-copy.old" && touch -d '-2 min' "$levels/.kestrivane-copy.old"
(ulimit -f 8 && cd "$work/elsewhere" && exec timeout 20 "$launcher" 2>/dev/null)
play_from "$work/elsewhere"
check "first start: plays in the player's folder" "$levels" "$played"
check "the player's folder gets the six levels, whole" "$whole" "$(cd "$levels" && md5sum level*.png)"
printf 'score!!!' >>"$levels/level2.png"
rm "$levels/level5.png" "$levels/level3.png" && ln -s "$work/unmounted/level3.png" "$levels/level3.png"
play_from "$work/elsewhere"
check "a level it cannot copy is named" "1" "$(grep -c '^kestrivane: could not copy level3' "$work/out")"
check "a second start replaces no level" "score!!!" "$(tail -c 8 "$levels/level2.png")"
check "and copies back only what is missing" "6" "$(ls -A "$levels" | wc -l)"
check "no home at all: refused" "1" "$(env -u HOME -u XDG_DATA_HOME "$work/root/usr/games/kestrivane" 2>&-; echo $?)"

cp "$work/root/usr/share/games/kestrivane/levels/level3.png" "$work/pack/level1.png"
play_from "$work/pack"
check "a folder holding level1.png is played in place" "$work/pack" "$played"
check "and the player's folder is left alone" "6" "$(ls "$levels" | wc -l)"
for _ in 1 2 3 4 5 6; do
    (cd "$work/elsewhere" && XDG_DATA_HOME=$work/race timeout 5 "$launcher" >/dev/null 2>&1; echo $?) &
done >"$work/starts"; wait
check "six first starts at once all play" "124 124 124 124 124 124" "$(paste -sd ' ' "$work/starts")"
check "on whole levels" "$whole" "$(cd "$work/race/kestrivane" && md5sum level*.png)"
check "the shipped files stay as packed" "" "$(cd "$work/root" && md5sum --quiet -c "$work/control/md5sums" 2>&1)"

finish package
