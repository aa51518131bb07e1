#!/usr/bin/env python3
"""Writes the first corpus of fuzz_zlib into the folder given, since the fuzzer
has a hard time finding a valid dynamic block on its own: text and PNG files of
the repository deflated at every kind of block and a small window, each behind
the two bytes that ask for no room or for the exact room (see
differential::compareZlibFuzzInput). Run from the repository's top."""
import glob, os, sys, zlib

files = glob.glob("scripts/*") + sorted(glob.glob("tests/pngsuite/*.png"))[::8]
settings = [(0, zlib.Z_DEFAULT_STRATEGY, 15), (1, zlib.Z_DEFAULT_STRATEGY, 15), (9, zlib.Z_DEFAULT_STRATEGY, 9),
            (6, zlib.Z_HUFFMAN_ONLY, 15), (6, zlib.Z_RLE, 15), (6, zlib.Z_FIXED, 15)]
for i, path in enumerate(files):
    for j, (level, strategy, window) in enumerate(settings):
        z = zlib.compressobj(level, zlib.DEFLATED, window, 8, strategy)
        stream = z.compress(open(path, "rb").read()[:8000]) + z.flush()
        for room in (b"\x00\x00", b"\x00\x40"):  # no room; the exact room
            open(os.path.join(sys.argv[1], f"seed{i}-{j}-{room[1]}.zlib"), "wb").write(room + stream)
