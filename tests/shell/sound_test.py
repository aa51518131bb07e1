#!/usr/bin/env python3
"""The game's sound as SDL's disk driver writes it, at the pace of play, on a
corridor: one row of 22 open squares between walls, the snake laid on the
first four. The first food lies 9 squares ahead of the head and the wall 19, so
Space brings the new level's notes, the food is heard 450 ms later, and 500 ms
after that the death, with the next level's notes under it. The title screen
is silent, and with M pressed there, so is everything after.

usage: sound_test.py GAME...   (the command that starts the game; DISPLAY set, xdotool on the PATH)
"""
import array
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PER_MS = 48  # samples a millisecond: one channel at 48 kHz
CUE_MS = {"new level": 320, "food": 90, "death": 500}


def bursts(samples, gap_ms=20):
    """[onset, length] in samples of each run of sound; a silence shorter than gap_ms lies inside one."""
    found = []
    for i, sample in enumerate(samples):
        if sample:
            if found and i - sum(found[-1]) < gap_ms * PER_MS:
                found[-1][1] = i + 1 - found[-1][0]
            else:
                found.append([i, 1])
    return found


def key(name):
    subprocess.run(["xdotool", "key", name], timeout=20)


def record(command, folder, muted=False):
    """Plays the corridor in `folder`: the stream, its length in samples when Space
    went and when the death's score reached the level file, and standard error."""
    os.makedirs(folder)
    level = os.path.join(folder, "level1.png")
    shutil.copy(os.path.join(HERE, "corridor-level.png"), level)
    audio = os.path.join(folder, "audio.raw")
    env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE="audio.raw")
    game = subprocess.Popen(command, cwd=folder, env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Kestrivane$"],
                            capture_output=True, text=True, timeout=120).stdout.split()[0]
    subprocess.run(["xdotool", "windowfocus", "--sync", window], timeout=20)
    time.sleep(1)
    if muted:
        key("m")
    space = os.path.getsize(audio) // 2
    key("space")
    size, deadline = os.path.getsize(level), time.monotonic() + 20
    while os.path.getsize(level) == size and time.monotonic() < deadline:
        time.sleep(0.002)
    death = os.path.getsize(audio) // 2
    time.sleep(0.7)
    key("Escape")
    err = game.communicate(timeout=30)[1]
    with open(audio, "rb") as f:
        return array.array("h", f.read()), space, death, err.decode(errors="replace")


def heard(samples, space, death):
    """The cues heard up to 600 ms past the death, named by their lengths, with
    the milliseconds between each and what set it off; and whether the title was silent."""
    named = []
    for onset, length in bursts(samples[:death + 600 * PER_MS]):
        name = next((n for n, ms in CUE_MS.items() if abs(length / PER_MS - ms) < 3), f"{length / PER_MS:.0f} ms")
        named.append((name, onset))
    if len(named) != 3:
        return [name for name, _ in named], None, all(s == 0 for s in samples[:space])
    # The level's notes from Space; the food from those notes; the death from its score's write.
    delays = [(named[0][1] - space) / PER_MS, (named[1][1] - named[0][1]) / PER_MS, (named[2][1] - death) / PER_MS]
    return [name for name, _ in named], delays, all(s == 0 for s in samples[:space])


def main(command):
    failures = []
    with tempfile.TemporaryDirectory() as work:
        samples, space, death, err = record(command, os.path.join(work, "sound"))
        names, delays, title_silent = heard(samples, space, death)
        if not title_silent:
            failures.append("the title screen was not silent")
        if names != list(CUE_MS):
            failures.append(f"heard {names}, not {list(CUE_MS)}")
        elif not (0 <= delays[0] <= 150 and 390 <= delays[1] <= 510 and -30 <= delays[2] <= 100):
            failures.append("cues out of time: the new level %+.0f ms from Space, the food %+.0f ms from it, "
                            "the death %+.0f ms from its score" % tuple(delays))
        else:
            print("sound: the new level %+.0f ms from Space, the food %+.0f ms from it, the death %+.0f ms from its "
                  "score" % tuple(delays))
        muted = record(command, os.path.join(work, "muted"), muted=True)
        if any(muted[0]):
            failures.append("sound after M")
        if err or muted[3]:
            failures.append(f"said: {err}{muted[3]}")
    for failure in failures:
        print("FAIL", failure)
    if not failures:
        print("sound: all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
