#!/bin/sh
# The real game binary on a display: the start-up failures with their messages,
# waits and exit codes; a level that kills the snake at once gaining its score
# trailer while its PNG bytes stay as they were; Escape ending with 0.
# usage: end_to_end_test.sh KESTRIVANE   (with DISPLAY set, xdotool on the PATH)
set -u
game=$(realpath "$1")
. "$(dirname "$0")/../tools/checks.sh"

# Starts the game in `work` with its console input on a pipe that stays open,
# so that a wait for Enter really waits.
start_game() {
    rm -f "$work/in"
    mkfifo "$work/in"
    (cd "$work" && exec "$@" "$game" <"$work/in" >"$work/out" 2>"$work/err") &
    pid=$!
    exec 3>"$work/in"
}

# Waits up to 20 s for the game to end and sets `status` to its exit status,
# or to "running". Not in a subshell: only this shell can reap the game.
await_end() {
    status=running
    for _ in $(seq 200); do
        state=Z
        [ -r "/proc/$pid/stat" ] && read -r _ _ state _ <"/proc/$pid/stat"
        if [ "$state" = Z ]; then
            wait "$pid"
            status=$?
            return
        fi
        sleep 0.1
    done
}

still_running_after() {
    sleep "$1"
    kill -0 "$pid" 2>/dev/null && echo yes || echo no
}

# A 7 x 2 RGBA level, "#.....#" over "#######": the snake is laid on columns 1
# to 4 and strikes the wall within three steps.
write_deadly_level() {
    python3 - "$1" <<'PY'
import struct, sys, zlib
rows = ["#.....#", "#######"]
raw = b"".join(b"\0" + b"".join(bytes((90, 90, 90, 254) if c == "#" else (30, 120, 40, 255)) for c in row)
               for row in rows)
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 6, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
open(sys.argv[1], "wb").write(png)
PY
}

no_level="Could not find a level file to load, please ensure there is at least one PNG file in this folder called"
no_level="$no_level e.g., level1.png"
start_game
check "no level: waits for Enter" "yes" "$(still_running_after 1)"
echo >&3
await_end
check "no level: exit code -1" "255" "$status"
check "no level: the message on standard output" "$no_level" "$(cat "$work/out")"
exec 3>&-

start_game env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=x11
await_end
check "no display: exits at once with -1" "255" "$status"
check "no display: the message on standard error" "Unable to initialize SDL:  " \
    "$(sed -n 2p "$work/err" | cut -c1-27)"
check "no display: after an empty line" "" "$(head -n 1 "$work/err")"
exec 3>&-

write_deadly_level "$work/level1.png"
cp "$work/level1.png" "$work/original.png"
size=$(wc -c <"$work/original.png")
start_game
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kestrivane$' | head -n 1)
check "the window shows" "yes" "$([ -n "$window" ] && echo yes)"
timeout 10 xdotool windowfocus --sync "$window"
sleep 0.5
check "the title screen saves nothing" "$size" "$(wc -c <"$work/level1.png")"
xdotool key space
sleep 1
xdotool key Escape
await_end
check "Escape ends with 0" "0" "$status"
exec 3>&-
check "a death appends the trailer" "$((size + 8))" "$(wc -c <"$work/level1.png")"
check "the PNG bytes before it are untouched" "yes" \
    "$(head -c "$size" "$work/level1.png" | cmp -s - "$work/original.png" && echo yes)"
trailer=$(tail -c 8 "$work/level1.png" | od -An -tx1 | tr -d ' \n')
case $trailer in
    358100080[01]000000) check "the trailer holds the magic and the score" ok ok ;;
    *) check "the trailer holds the magic and the score" "35810008 then 0 or 1" "$trailer" ;;
esac
check "nothing said in play" "" "$(cat "$work/out" "$work/err")"

finish end_to_end
