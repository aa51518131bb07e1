#!/usr/bin/env python3
# The game's sound as SDL's disk driver writes it, at the pace of play, on a
# corridor: one row of 22 open squares between walls, the snake laid on the
# first four. The first food lies 9 squares ahead of the head and the wall 19,
# so Space brings the new level's notes, the food is heard 9 steps later, and
# 10 steps after that the death, with the next level's notes under it: within
# 100 ms of its score reaching the level file. The title screen is silent, and
# with M pressed there, so is everything after.
#
# usage: sound_test.py GAME...   (the command that starts the game; DISPLAY set, xdotool on the PATH)
import array
import os
import shutil
import subprocess
import sys
import tempfile
import time

PER_MS = 48  # samples a millisecond: one channel at 48 kHz
CUE_MS = {"new level": 320, "food": 90, "death": 500}


def bursts(samples, gap_ms=20):
    """[onset, length] in samples of each run of sound; a silence shorter than gap_ms lies inside one."""
    found = []
    for i, sample in enumerate(samples):
        if sample and found and i - sum(found[-1]) < gap_ms * PER_MS:
            found[-1][1] = i + 1 - found[-1][0]
        elif sample:
            found.append([i, 1])
    return found


def recording(folder):
    """Lays the corridor in a new `folder`: the environment in which the game records its sound there."""
    os.makedirs(folder)
    shutil.copy(os.path.join(os.path.dirname(os.path.abspath(__file__)), "corridor-level.png"), folder + "/level1.png")
    return dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE="audio.raw")


def stream(folder):
    return array.array("h", open(folder + "/audio.raw", "rb").read())


def play(folder, muted=False):
    """With the game's window focused on the title screen: M when muted, then Space, and
    Escape 700 ms after the death's score reaches the level file. The stream's length in
    samples when Space went and when the score came (the driver writes through a buffer
    of 43 ms, so a little before)."""
    level, audio = folder + "/level1.png", folder + "/audio.raw"
    time.sleep(1)
    subprocess.run(["xdotool", "key", "m"] if muted else ["true"], timeout=20)
    space, size, deadline = os.path.getsize(audio) // 2, os.path.getsize(level), time.monotonic() + 20
    subprocess.run(["xdotool", "key", "space"], timeout=20)
    while os.path.getsize(level) == size and time.monotonic() < deadline:
        time.sleep(0.002)
    death = os.path.getsize(audio) // 2
    time.sleep(0.7)
    subprocess.run(["xdotool", "key", "Escape"], timeout=20)
    return space, death


def record(command, folder, muted=False):
    """The corridor played in `folder`: the stream, the two lengths of play(), and standard error."""
    game = subprocess.Popen(command, cwd=folder, env=recording(folder), stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Kestrivane$"],
                            capture_output=True, text=True, timeout=120).stdout.split()[0]
    subprocess.run(["xdotool", "windowfocus", "--sync", window], timeout=20)
    space, death = play(folder, muted)
    said = game.communicate(timeout=30)[1].decode(errors="replace")
    return stream(folder), space, death, said


def heard(samples, space, death):
    """The cues heard up to 600 ms past the death, named by their lengths; the milliseconds
    from Space to the first, from it to the second, and from the score's write to the third;
    and whether the title was silent."""
    cues = bursts(samples[:death + 600 * PER_MS])
    names = [next((n for n, ms in CUE_MS.items() if abs(length / PER_MS - ms) < 3), length // PER_MS)
             for _, length in cues]
    onsets = [onset / PER_MS for onset, _ in cues]
    delays = [onsets[0] - space / PER_MS, onsets[1] - onsets[0], onsets[2] - death / PER_MS] if len(cues) == 3 else []
    return names, delays, not any(samples[:space])


def main(command):
    with tempfile.TemporaryDirectory() as work:
        samples, space, death, said = record(command, os.path.join(work, "sound"))
        names, delays, title_silent = heard(samples, space, death)
        muted = record(command, os.path.join(work, "muted"), muted=True)
    # The food's time is the game's, slower on a loaded machine; a death's is the moment its score is written.
    timely = bool(delays) and 0 <= delays[0] <= 200 and -30 <= delays[2] <= 100
    failures = [what for what, wrong in (("the title screen was not silent", not title_silent),
                                         (f"heard {names}, not {list(CUE_MS)}", names != list(CUE_MS)),
                                         (f"cues out of time: {delays}", not timely),
                                         ("sound after M", any(muted[0])),
                                         (f"said: {said}{muted[3]}", said or muted[3])) if wrong]
    print("sound: the new level %+.0f ms from Space, the food %+.0f ms from it, the death %+.0f ms from its score"
          % tuple(delays) if delays else "sound: no three cues", *(f"FAIL {f}" for f in failures), sep="\n")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
