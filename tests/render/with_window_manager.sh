#!/bin/sh
# Runs a command on the display it is given with openbox managing its windows,
# as on a player's desktop: only a window manager frames a window, keeps it in
# the usable area and carries out a switch to full screen.
# usage: with_window_manager.sh COMMAND...   (with DISPLAY set)
set -u
openbox --sm-disable >/dev/null 2>&1 &
manager=$!
# openbox announces itself on the root window once it manages the screen.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
"$@"
status=$?
kill "$manager" 2>/dev/null
wait "$manager" 2>/dev/null
exit "$status"
