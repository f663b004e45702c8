#!/usr/bin/env python3
"""quorvex-pack's progress line: on a terminal once a run is past a second, cleared at the end;
never where standard error is not a terminal. The tile data goes to standard output, a pipe
left unread for 1.5 s, which holds the run back that long however fast it packs; the banner
and the outcome go to standard error then.

Usage: pack_progress_test.py QUORVEX_PACK"""
import os
import pty
import re
import struct
import subprocess
import sys
import tempfile
import time

PACK = sys.argv[1]
DONE = b"Tis file written: 4 x 16 blocks, 0 reduced to 256 colours"


def bitmap(width, height):
    """An uncompressed bottom-up 24-bit BMP of one colour."""
    pixels = b"\x10\x80\xf0" * width * height
    return (b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54) +
            struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 0, 0, 0, 0) + pixels)


def held_back(picture, stderr):
    """Runs quorvex-pack on `picture` into standard output, read only after 1.5 s."""
    run = subprocess.Popen([PACK, picture, "-"], stdout=subprocess.PIPE, stderr=stderr)
    time.sleep(1.5)
    tiles, said = run.communicate()
    assert run.returncode == 0, run.returncode
    return tiles, said


with tempfile.TemporaryDirectory() as folder:
    picture, packed = os.path.join(folder, "p.bmp"), os.path.join(folder, "t.tis")
    with open(picture, "wb") as f:
        f.write(bitmap(4 * 64, 16 * 64))
    subprocess.run([PACK, picture, packed], check=True, stdout=subprocess.DEVNULL)
    with open(packed, "rb") as f:
        expected = f.read()

    terminal, seat = pty.openpty()
    tiles, _ = held_back(picture, seat)
    os.close(seat)
    shown = b""
    try:
        while chunk := os.read(terminal, 4096):
            shown += chunk
    except OSError:  # the terminal's other end is closed: all has been read
        pass
    assert tiles == expected, "standard output is not the tile data"
    line = rb"\rPacking: (\d+) of 16 block-rows, (\d+\.\d) a second *"
    assert re.fullmatch(rb"Quorvex v1.0 by Velkaran\r\n(%s)+\r +\r%s\r\n" % (line, DONE), shown), shown
    # The rows done over the rate is the time the run had taken: past the second, within reason.
    assert all(1 <= int(done) / float(rate) < 60 for done, rate in re.findall(line, shown)), shown

    tiles, said = held_back(picture, subprocess.PIPE)
    assert tiles == expected and said == b"Quorvex v1.0 by Velkaran\n" + DONE + b"\n", said
print("progress shown on a terminal and cleared; nothing where standard error is a pipe")
