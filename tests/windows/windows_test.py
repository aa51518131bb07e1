#!/usr/bin/env python3
# The Windows package under Wine, held to the Linux build: the decoder tool
# gives the same lines on the PNG suite (whose x* files are malformed), the
# inputs kept in tests/regressions/ and the level pack, and levelcheck the same
# lines; the game waits for Enter without a level, and on a corridor level shows
# its window, starts on Space, plays the Linux build's cues where their events
# happen, dies and appends the very trailer the Linux game appends, and quits
# with 0 on Escape. The platform files' own tests, run under Wine too, hold the
# bytes it writes, and the events' tests drive SDL's virtual pads through the
# zip's SDL2.dll.
#
# usage: windows_test.py LINUX_BUILD WINDOWS_ZIP [TESTS_EXE...]   (on a
# display, xdotool on the PATH; WINEPREFIX set to a prefix of the tests' own)
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.dirname(TESTS)
sys.path.insert(0, os.path.join(TESTS, "shell"))
import sound_test  # noqa: E402
# Debian keeps wine64 and its server off the PATH
WINE = "/usr/lib/wine/wine64" if os.path.exists("/usr/lib/wine/wine64") else "wine64"
WINESERVER = "/usr/lib/wine/wineserver64" if os.path.exists("/usr/lib/wine/wineserver64") else "wineserver"
WINDOW_NAME = "^Kestrivane$"
# Wine's own lines on standard error: its debug channels ("0024:fixme:...")
# and its notes on making or updating a prefix. They are told apart from the
# program's messages, never hidden: a crash of ours ("wine: Unhandled page
# fault ...") is none of them, and a failed check shows the whole stream.
# Wine's sound driver loads the host's ALSA, which reports a missing card itself.
WINE_NOISE = re.compile(r"[0-9a-f]{4}:(fixme|err|warn|trace):|ALSA lib |"
                        r"wine: (created the configuration directory|configuration in .* has been updated)")
WINE_CRASH = re.compile(r"wine: Unhandled (page fault|exception)")
failures = []


def check(what, expected, actual, errors=()):
    """`errors`: what the Windows program said on standard error, shown when the check fails."""
    if expected != actual:
        failures.append(what)
        print(f"FAIL {what}\n  expected: {expected!r}\n  actual:   {actual!r}")
        print("".join(f"  stderr: {line}\n" for line in errors), end="")


def programs_own(lines):
    return [line for line in lines if not WINE_NOISE.match(line)]


def text_lines(output):
    """The console's CR LF read as LF."""
    return output.decode(errors="replace").replace("\r\n", "\n").splitlines()


def run(command, cwd, timeout=120):
    """Exit status and the lines of standard output and standard error."""
    done = subprocess.run(command, cwd=cwd, capture_output=True, timeout=timeout)
    return done.returncode, text_lines(done.stdout), text_lines(done.stderr)


def run_windows(command, cwd, timeout=120):
    """As run(), under Wine. The programs are deterministic: a crash that does
    not come again on the same input is Wine's own (seen on the first runs in
    a new prefix, on a loaded machine), and the run is taken once more. A
    crash that comes again stays in the result, and fails the checks."""
    result = run([WINE, *command], cwd, timeout)
    if any(WINE_CRASH.match(line) for line in result[2]):
        print("windows_test: Wine crashed; once more:", *command, *result[2], sep="\n  ", flush=True)
        result = run([WINE, *command], cwd, timeout)
    return result


def read(path):
    return open(path, "rb").read() if os.path.exists(path) else None


def compare_tool(name, linux, windows, folder, names):
    status, lines, errors = run([linux] + names, folder)
    w_status, w_lines, w_errors = run_windows([windows] + names, folder)
    where = os.path.basename(folder)
    check(f"{name}: the same lines in {where}", lines, w_lines, w_errors)
    check(f"{name}: the same messages in {where}", errors, programs_own(w_errors), w_errors)
    check(f"{name}: the same exit status in {where}", status, w_status, w_errors)


def prepare_wine():
    """Makes the Wine prefix on the first run, without Mono or Gecko (the
    programs need neither, and their installers would wait for a click), and
    waits for every process of its making to end: a program started while a
    new prefix still settles may fail on its first run."""
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    if os.path.isdir(os.path.join(prefix, "drive_c")):
        return
    print(f"windows_test: making the Wine prefix {prefix}", flush=True)
    env = dict(os.environ, WINEDLLOVERRIDES="mscoree,mshtml=")
    started = time.monotonic()
    made = subprocess.run([WINE, "wineboot", "--init"], env=env, capture_output=True, timeout=600)
    subprocess.run([WINESERVER, "--wait"], env=env, timeout=600)
    if made.returncode != 0:
        sys.exit(f"windows_test: wineboot failed with {made.returncode}:\n{made.stderr.decode(errors='replace')}")
    print(f"windows_test: the prefix settled in {time.monotonic() - started:.0f} s", flush=True)


class Game:
    """One run of a game binary in `folder`, its console input on a pipe that stays open."""

    def __init__(self, command, folder, env=None):
        self.process = subprocess.Popen(command, cwd=folder, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)

    def window(self, seconds=120):
        """This process's window, not one that a game before it is still taking
        down; none when the game ends first or shows none in time."""
        deadline = time.monotonic() + seconds
        while self.process.poll() is None and time.monotonic() < deadline:
            found = run(["xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid), "--name",
                         WINDOW_NAME], None, timeout=30)[1]
            if found:
                subprocess.run(["xdotool", "windowfocus", "--sync", found[0]], timeout=20)
                time.sleep(0.5)
                return found[0]
            time.sleep(0.5)
        return None

    def keys(self, *keys):
        subprocess.run(["xdotool", "key", *keys], timeout=20)

    def end(self, timeout=30):
        """Exit status (none when it had to be killed), standard output, and the lines of standard error."""
        status = None
        try:
            out, err = self.process.communicate(timeout=timeout)
            status = self.process.returncode
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, err = self.process.communicate()
        return status, "\n".join(text_lines(out)), text_lines(err)


def shown(command, folder, env=None):
    """A game started in `folder` and its window. A game that still runs but
    has shown no window in two minutes is started once more: under Wine, on a
    loaded machine, a window has failed to come once in many runs. A game that
    ends, or shows none the second time, is given back without a window."""
    game = Game(command, folder, env)
    window = game.window()
    if window is None and game.process.poll() is None:
        print("windows_test: no window in two minutes; once more:", *command, *game.end()[2], sep="\n  ", flush=True)
        game = Game(command, folder, env)
        window = game.window()
    return game, window


def no_level(command, folder):
    """Whether the game waits for Enter without a level, then its exit status and output, and its standard error."""
    os.makedirs(folder)
    game = Game(command, folder)
    time.sleep(3)
    waiting = game.process.poll() is None
    if waiting:
        game.process.stdin.write(b"\n")
        game.process.stdin.flush()
    status, out, errors = game.end()
    return (waiting, status, out), errors


def corridor(command, folder):
    """The corridor played with its sound recorded: whether the window showed, the exit
    status and the level file after a death and Escape, the cues heard with their delays
    and whether the title was silent, the stream, and standard error."""
    game, window = shown(command, folder, sound_test.recording(folder))
    space, death = sound_test.play(folder) if window else (0, 0)
    status, _, errors = game.end()
    samples = sound_test.stream(folder)
    return (window is not None, status, read(os.path.join(folder, "level1.png"))), \
        sound_test.heard(samples, space, death), samples, errors


def compare_games(linux, windows, work):
    expected, errors = no_level(linux, os.path.join(work, "linux-no-level"))
    check("the Linux game waits without a level, then exits with -1", (True, 255), expected[:2], errors)
    actual, errors = no_level(windows, os.path.join(work, "windows-no-level"))
    check("no level: waits for Enter, exits with -1, says why", (True, 255, expected[2]), actual, errors)

    (_, status, level), _, expected, errors = corridor(linux, os.path.join(work, "linux-corridor"))
    played = os.path.getsize(os.path.join(TESTS, "shell", "corridor-level.png"))
    check("the Linux game dies, appends its trailer and ends with 0", (played + 8, 0), (len(level), status), errors)
    (shows, status, windows_level), (names, delays, silent), samples, errors = corridor(
        windows, os.path.join(work, "windows-corridor"))
    check("the window shows, a death appends the Linux game's trailer, Escape ends with 0", (True, level, 0),
          (shows, windows_level, status), errors)
    check("the game says nothing of its own but the disk driver's notice", True,
          all(line.startswith("CRITICAL: ") for line in programs_own(errors)), errors)
    check("the title is silent, then the new level, the food and the death, within 100 ms of it, are heard",
          (True, list(sound_test.CUE_MS), True), (silent, names, bool(delays) and -30 <= delays[2] <= 100), errors)
    cues = lambda stream: [stream[onset:onset + length] for onset, length in sound_test.bursts(stream)[:2]]
    check("the new level's notes and the food are the Linux build's samples", cues(expected), cues(samples))


def main(argv):
    if len(argv) < 3:
        sys.exit("usage: windows_test.py LINUX_BUILD WINDOWS_ZIP [TESTS_EXE...]")
    linux = os.path.abspath(argv[1])
    prepare_wine()
    work = tempfile.mkdtemp(prefix="kestrivane-windows-")
    try:
        with zipfile.ZipFile(argv[2]) as package:
            package.extractall(os.path.join(work, "package"))
        found = [root for root, _, files in os.walk(os.path.join(work, "package")) if "kestrivane.exe" in files]
        if not found:
            sys.exit("windows_test: no kestrivane.exe in the package")
        package = found[0]
        exe = lambda tool: os.path.join(package, tool + ".exe")
        tool = lambda name: os.path.join(linux, name)

        suite = os.path.join(TESTS, "pngsuite")
        suite_names = sorted(n for n in os.listdir(suite) if n.endswith(".png"))
        level_names = sorted(n for n in os.listdir(package) if n.startswith("level") and n.endswith(".png"))
        regressions = os.path.join(TESTS, "regressions")
        hostile = sorted(n for n in os.listdir(regressions) if n.endswith(".png"))
        check("the package holds the shipped levels", sorted(os.listdir(os.path.join(SOURCE, "levels"))), level_names)
        for folder, names in ((suite, suite_names), (package, level_names), (regressions, hostile)):
            compare_tool("pngdecode", tool("pngdecode"), exe("pngdecode"), folder, names)
        for folder, names in ((package, level_names), (suite, suite_names)):
            compare_tool("levelcheck", tool("levelcheck"), exe("levelcheck"), folder, names)

        # Beside the zip's SDL2.dll, which they load as the game does.
        for tests in argv[3:]:
            shutil.copy(tests, package)
            status, lines, errors = run_windows([exe(os.path.basename(tests)[:-4])], work)
            check(f"{os.path.basename(tests)} passes under Wine", (0, []),
                  (status, [line for line in lines if line.startswith("[  FAILED")]), errors)
        compare_games([tool("kestrivane")], [WINE, exe("kestrivane")], work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        sys.exit(f"windows_test: {len(failures)} check(s) failed")
    print("windows_test: the Windows package decodes, checks and plays as the Linux build does")


if __name__ == "__main__":
    main(sys.argv)
