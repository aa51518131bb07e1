#!/bin/sh
# What only the real game binary shows: the start-up failures with their
# messages, waits and exit codes; pausing; a death in play appending a score
# trailer while the level's PNG bytes stay as they were; Escape ending with 0. What the
# trailer holds is the game tests' business.
# usage: end_to_end_test.sh KESTRIVANE   (with DISPLAY set, xdotool on the PATH)
set -u
game=$(realpath "$1")
. "$(dirname "$0")/../tools/checks.sh"

# Starts the game in `work`, ended after 20 s at most (killed 5 s later if hung),
# with its console input on a pipe that stays open, so that a wait for Enter
# really waits.
start_game() {
    rm -f "$work/in"
    mkfifo "$work/in"
    (cd "$work" && exec timeout -k 5 20 "$@" "$game" <"$work/in" >"$work/out" 2>"$work/err") &
    pid=$!
    exec 3>"$work/in"
}

start_game
sleep 1
check "no level: waits for Enter" "yes" "$(kill -0 "$pid" 2>/dev/null && echo yes)"
echo >&3
wait "$pid"
check "no level: exit code -1" "255" "$?"
check "no level: the message on standard output" "Could not find a level file to load, please ensure there is at \
least one PNG file in this folder called e.g., level1.png" "$(cat "$work/out")"

start_game env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=x11
wait "$pid"
check "no display: exits at once with -1" "255" "$?"
check "no display: the message on standard error, after an empty line" "|Unable to initialize SDL:  " \
    "$(head -c 28 "$work/err" | tr '\n' '|')"

# deadly-level.png is 7 x 2, "#.....#" over "#######": the snake, laid on
# columns 1 to 4, strikes the wall within three steps, again and again. P
# pauses, and so does a lost focus: the snake lives through a second of each,
# the second time past the focus coming back. P resumes, and it dies. Sound
# changes none of it: the first game has SDL's silent device, the second none
# at all, and says so once.
cp "$(dirname "$0")/deadly-level.png" "$work/original.png"
size=$(wc -c <"$work/original.png")
for run in "p dummy" "lost none"; do
    set -- $run
    focus=$1 said=$([ "$2" = none ] && echo "Playing without sound: Audio target 'none' not available")
    cp "$work/original.png" "$work/level1.png"
    start_game env SDL_AUDIODRIVER="$2"
    window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kestrivane$' | head -n 1)
    check "the window shows" "yes" "$([ -n "$window" ] && echo yes)"
    timeout 10 xdotool windowfocus --sync "$window"
    sleep 0.5
    if [ "$focus" = p ]; then
        xdotool key space p
    else
        xdotool key space windowfocus "$(xdotool search --maxdepth 0 '')" windowfocus "$window"
    fi
    sleep 1
    check "paused by $focus: alive" "$size" "$(wc -c <"$work/level1.png")"
    xdotool key p
    sleep 1
    check "resumed after $focus: a death appends the trailer" "$((size + 8))" "$(wc -c <"$work/level1.png")"
    check "the PNG bytes before it are untouched" "yes" \
        "$(head -c "$size" "$work/level1.png" | cmp -s - "$work/original.png" && echo yes)"
    xdotool key Escape
    wait "$pid"
    check "Escape ends with 0" "0" "$?"
    check "nothing said in play" "$said" "$(cat "$work/out" "$work/err")"
done

# Standard error closed, its number would go to the X connection, and the
# line about sound with it, hanging the game: Escape must still end it.
start_game env SDL_AUDIODRIVER=nonsense sh -c 'exec "$0" 2>&-'
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kestrivane$' | head -n 1)
timeout 10 xdotool windowfocus --sync "$window"
xdotool key Escape
wait "$pid"
check "standard error closed: Escape ends with 0" "0" "$?"

finish end_to_end
