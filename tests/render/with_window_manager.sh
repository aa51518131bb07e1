#!/bin/sh
# Runs a command on the display it is given with openbox managing its windows,
# as on a player's desktop: only a window manager frames a window, keeps it in
# the usable area and carries out a switch to full screen.
# usage: with_window_manager.sh COMMAND...   (with DISPLAY set)
set -u
openbox --sm-disable >/dev/null 2>&1 &
manager=$!
# openbox announces itself on the root window as it takes the screen, and
# finishes starting after that: give it a moment more.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
sleep 1
# A window that the manager, busy on a loaded machine, never maps would hold
# SDL's window creation for ever: such a run is ended (killed, as SDL takes
# SIGTERM for a request to quit) and made once more.
run() { timeout -k 5 60 "$@"; }
run "$@"; status=$?
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "with_window_manager: no answer in 60 s; once more" >&2
    run "$@"; status=$?
fi
kill "$manager" 2>/dev/null; wait "$manager" 2>/dev/null
exit "$status"
