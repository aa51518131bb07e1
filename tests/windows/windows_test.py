#!/usr/bin/env python3
"""The Windows package under Wine, held to the Linux build: the decoder tool
gives the same lines and the same output bytes on the PNG suite, the level
pack and malformed files, and levelcheck the same lines; the game shows its
window, starts on Space, dies on a deadly level and appends the very trailer
the Linux game appends, quits with 0 on Escape, waits for Enter without a
level, and draws the same first level and food square from the same folder.

usage: windows_test.py LINUX_BUILD WINDOWS_ZIP [PLATFORM_TESTS_EXE]   (on a
display, xdotool and ImageMagick's import on the PATH; WINEPREFIX set to a
prefix of the tests' own)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.dirname(TESTS)
# Debian keeps wine64 and its server off the PATH
WINE = "/usr/lib/wine/wine64" if os.path.exists("/usr/lib/wine/wine64") else "wine64"
WINESERVER = "/usr/lib/wine/wineserver64" if os.path.exists("/usr/lib/wine/wineserver64") else "wineserver"
WINDOW_NAME = "^Kestrivane$"
failures = []


def check(what, expected, actual):
    if expected != actual:
        failures.append(what)
        print(f"FAIL {what}\n  expected: {expected!r}\n  actual:   {actual!r}")


def wine_path(path):
    """The Windows name of a Linux path: Wine maps the root to drive Z."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(command, cwd, **options):
    """Exit status and output lines of a tool, the console's CR LF read as LF."""
    done = subprocess.run(command, cwd=cwd, capture_output=True, timeout=120, **options)
    lines = lambda b: b.decode(errors="replace").replace("\r\n", "\n").splitlines()
    return done.returncode, lines(done.stdout), lines(done.stderr)


def malformed_files(folder):
    """Files a level author or an attacker could hand over, each refused for its own reason."""
    os.makedirs(folder)
    level = open(os.path.join(SOURCE, "levels", "level1.png"), "rb").read()
    files = {"empty.png": b"", "signature-only.png": level[:8], "no-iend.png": level[:-12],
             "half.png": level[:len(level) // 2], "bad-crc-header.png": level[:29] + b"\0" + level[30:],
             "trailing-bytes.png": level + b"not a trailer"}
    for i in range(8):
        files[f"cut-{i}.png"] = level[:33 + i * (len(level) - 33) // 8]
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)
    for name in os.listdir(os.path.join(TESTS, "regressions")):
        if name.endswith(".png"):
            shutil.copy(os.path.join(TESTS, "regressions", name), folder)
    os.makedirs(os.path.join(folder, "a-folder.png"))
    return sorted(files) + sorted(n for n in os.listdir(folder) if n not in files)


def compare_tool(name, linux, windows, folder, names):
    status, lines, errors = run([linux] + names, folder)
    w_status, w_lines, w_errors = run([WINE, windows] + names, folder)
    check(f"{name}: the same lines in {os.path.basename(folder)}", lines, w_lines)
    check(f"{name}: the same messages in {os.path.basename(folder)}", errors, w_errors)
    check(f"{name}: the same exit status in {os.path.basename(folder)}", status, w_status)


def compare_outputs(linux, windows, folder, names, work, zlib=False):
    """pngdecode --out, file by file: the Windows runs go through one batch file, one Wine start."""
    option = ["--zlib"] if zlib else []
    ours, theirs = os.path.join(work, "linux-out"), os.path.join(work, "windows-out")
    os.makedirs(ours, exist_ok=True)
    os.makedirs(theirs, exist_ok=True)
    batch = ["@echo off"]
    for name in names:
        subprocess.run([linux] + option + ["--out", os.path.join(ours, name + ".out"), name], cwd=folder,
                       capture_output=True, timeout=60)
        batch.append(" ".join([f'"{wine_path(windows)}"'] + option +
                              ["--out", f'"{wine_path(os.path.join(theirs, name + ".out"))}"', f'"{name}"', ">NUL"]))
    script = os.path.join(work, "outputs.bat")
    with open(script, "w", newline="\r\n") as out:
        out.write("\n".join(batch) + "\n")
    subprocess.run([WINE, "cmd", "/c", wine_path(script)], cwd=folder, capture_output=True, timeout=600)
    for name in names:
        mine = os.path.join(ours, name + ".out")
        other = os.path.join(theirs, name + ".out")
        expected = open(mine, "rb").read() if os.path.exists(mine) else None
        actual = open(other, "rb").read() if os.path.exists(other) else None
        check(f"pngdecode --out: the same bytes for {name}", True, expected == actual)


def prepare_wine():
    """Makes the Wine prefix on the first run, without Mono or Gecko: the
    programs need neither, and their installers would wait for a click."""
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    if os.path.isdir(os.path.join(prefix, "drive_c")):
        return
    print(f"windows_test: making the Wine prefix {prefix}", flush=True)
    env = dict(os.environ, WINEDLLOVERRIDES="mscoree,mshtml=")
    subprocess.run([WINE, "wineboot", "--init"], env=env, capture_output=True, timeout=600)
    subprocess.run([WINESERVER, "--wait"], env=env, timeout=600)


class Game:
    """One run of a game binary in `folder`, its console input on a pipe that stays open."""

    def __init__(self, command, folder):
        self.process = subprocess.Popen(command, cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)

    def window(self):
        # This process's window, not one that a game before it is still taking down.
        found = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(self.process.pid),
                                "--name", WINDOW_NAME], capture_output=True, timeout=60).stdout.split()
        if not found:
            return None
        window = found[0].decode()
        subprocess.run(["xdotool", "windowfocus", "--sync", window], timeout=20)
        time.sleep(0.5)
        return window

    def keys(self, *keys):
        subprocess.run(["xdotool", "key"] + list(keys), timeout=20)

    def end(self, timeout=30):
        try:
            out, _ = self.process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, _ = self.process.communicate()
            return None, ""
        return self.process.returncode, out.decode(errors="replace").replace("\r\n", "\n")


def no_level(command, work, name):
    folder = os.path.join(work, name + "-no-level")
    os.makedirs(folder)
    game = Game(command, folder)
    time.sleep(3)
    waiting = game.process.poll() is None
    if waiting:
        game.process.stdin.write(b"\n")
        game.process.stdin.flush()
    status, out = game.end()
    return waiting, status, out


def deadly_level(command, work, name):
    folder = os.path.join(work, name + "-deadly")
    os.makedirs(folder)
    shutil.copy(os.path.join(TESTS, "shell", "deadly-level.png"), os.path.join(folder, "level1.png"))
    game = Game(command, folder)
    window = game.window()
    if window:
        game.keys("space")
        time.sleep(1.5)
        game.keys("Escape")
    status, _ = game.end()
    return window is not None, status, open(os.path.join(folder, "level1.png"), "rb").read()


def first_frame(command, work, name):
    """What the first level shows with the fog off, paused before the first step:
    the colour at the centre of every 8-pixel square, the snake's green left out."""
    folder = os.path.join(work, name + "-pack")
    shutil.copytree(os.path.join(SOURCE, "levels"), folder)
    game = Game(command, folder)
    window = game.window()
    picture = os.path.join(work, name + "-first.rgb")
    if window:
        game.keys("h", "space", "p")
        time.sleep(1)
        subprocess.run(["import", "-window", window, "-depth", "8", "rgb:" + picture], timeout=30)
        game.keys("Escape")
    game.end()
    if not os.path.exists(picture):
        return None
    pixels = open(picture, "rb").read()
    width = 800
    samples = {}
    for y in range(4, 800, 8):
        for x in range(4, width, 8):
            at = 3 * (y * width + x)
            colour = tuple(pixels[at:at + 3])
            if colour != (0, 255, 0):
                samples[(x // 8, y // 8)] = colour
    return samples


def main(argv):
    if len(argv) not in (3, 4):
        sys.exit("usage: windows_test.py LINUX_BUILD WINDOWS_ZIP [PLATFORM_TESTS_EXE]")
    linux = os.path.abspath(argv[1])
    prepare_wine()
    work = tempfile.mkdtemp(prefix="kestrivane-windows-")
    try:
        with zipfile.ZipFile(argv[2]) as package:
            package.extractall(os.path.join(work, "package"))
        top = os.path.join(work, "package")
        found = [root for root, _, files in os.walk(top) if "kestrivane.exe" in files]
        if not found:
            sys.exit("windows_test: no kestrivane.exe in the package")
        package = found[0]
        exe = lambda tool: os.path.join(package, tool + ".exe")
        tool = lambda name: os.path.join(linux, name)

        broken = os.path.join(work, "malformed")
        broken_names = malformed_files(broken)
        suite = os.path.join(TESTS, "pngsuite")
        suite_names = sorted(n for n in os.listdir(suite) if n.endswith(".png"))
        levels = package
        level_names = sorted(n for n in os.listdir(package) if n.startswith("level") and n.endswith(".png"))
        check("the package holds the shipped levels", sorted(n for n in os.listdir(os.path.join(SOURCE, "levels"))),
              level_names)
        for folder, names in ((suite, suite_names), (levels, level_names), (broken, broken_names)):
            compare_tool("pngdecode", tool("pngdecode"), exe("pngdecode"), folder, names)
        for folder, names in ((levels, level_names), (broken, broken_names)):
            compare_tool("levelcheck", tool("levelcheck"), exe("levelcheck"), folder, names)
        compare_outputs(tool("pngdecode"), exe("pngdecode"), suite, suite_names, os.path.join(work, "suite"))
        compare_outputs(tool("pngdecode"), exe("pngdecode"), levels, level_names, os.path.join(work, "levels"))
        regressions = os.path.join(TESTS, "regressions")
        streams = sorted(n for n in os.listdir(regressions) if n.endswith(".zlib"))
        compare_outputs(tool("pngdecode"), exe("pngdecode"), regressions, streams, os.path.join(work, "zlib"),
                        zlib=True)

        if len(argv) == 4:
            status, lines, _ = run([WINE, os.path.abspath(argv[3])], work)
            check("the platform files' tests pass under Wine", (0, []),
                  (status, [line for line in lines if line.startswith("[  FAILED")]))

        game = {"linux": [tool("kestrivane")], "windows": [WINE, exe("kestrivane")]}
        expected_wait = no_level(game["linux"], work, "linux")
        check("the Linux game waits without a level, then exits with -1", (True, 255), expected_wait[:2])
        check("no level: waits for Enter, exits with -1, says why", (True, 255, expected_wait[2]),
              no_level(game["windows"], work, "windows"))
        expected_death = deadly_level(game["linux"], work, "linux")
        shows, status, level = deadly_level(game["windows"], work, "windows")
        check("the window shows", True, shows)
        check("Escape ends with 0", 0, status)
        check("a death appends the trailer the Linux game appends", expected_death[2], level)
        deadly = os.path.getsize(os.path.join(TESTS, "shell", "deadly-level.png"))
        check("the Linux game dies, appends its trailer and ends with 0", (deadly + 8, 0),
              (len(expected_death[2]), expected_death[1]))
        expected_frame = first_frame(game["linux"], work, "linux")
        frame = first_frame(game["windows"], work, "windows")
        check("a picture of each first frame", True, expected_frame is not None and frame is not None)
        if expected_frame and frame:
            food = [square for square, colour in expected_frame.items() if colour == (0, 0, 255)]
            check("the Linux game's first frame shows the food", 1, len(food))
            print(f"windows_test: first frame compared at {len(expected_frame.keys() & frame.keys())} squares, "
                  f"food at {food}")
            differing = sorted(s for s in expected_frame.keys() & frame.keys() if expected_frame[s] != frame[s])
            check("the same first level and food square", [], differing[:10])
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        sys.exit(f"windows_test: {len(failures)} check(s) failed")
    print("windows_test: the Windows package decodes, checks and plays as the Linux build does")


if __name__ == "__main__":
    main(sys.argv)
