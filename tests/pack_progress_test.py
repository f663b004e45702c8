#!/usr/bin/env python3
"""quorvex-pack's progress line: on a terminal once a run is past a second, cleared at the end
and on an interrupt; never where standard error is not a terminal. The tile data goes to
standard output, a pipe of 1 MiB left unread for 1.5 s, which holds the run back that long
however fast it packs, at over 200 block-rows done; the banner and the outcome go to standard
error then. Tile data is not written to a terminal unless forced. An interrupt leaves no
temporary file of quorvex-pack's or of quorvex's behind.

Usage: pack_progress_test.py QUORVEX_PACK QUORVEX_PACK_NAMED QUORVEX_NAMED"""
import fcntl
import os
import pty
import random
import re
import select
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time

PACK = os.path.abspath(sys.argv[1])
NAMED = os.path.abspath(sys.argv[2])
CONVERT_NAMED = os.path.abspath(sys.argv[3])
DONE = b"Tis file written: 40 x 6 blocks, 0 reduced to 256 colours"


def bitmap(width, height, pixels=None):
    """An uncompressed bottom-up 24-bit BMP of `pixels`, or of one colour."""
    pixels = pixels or b"\x10\x80\xf0" * width * height
    return (b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54) +
            struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 0, 0, 0, 0) + pixels)


def on_terminal(command, cwd=None, until=None, then=None):
    """Runs `command` with standard output and error on a pseudo-terminal and reads all it shows;
    once `until` has shown, sends the signal `then`. Returns the exit status and what showed."""
    terminal, seat = pty.openpty()
    # The terminal becomes the run's own, as /dev/tty names it.
    run = subprocess.Popen(command, stdout=seat, stderr=seat, cwd=cwd, start_new_session=True,
                           preexec_fn=lambda: fcntl.ioctl(1, termios.TIOCSCTTY, 0))
    os.close(seat)
    shown, sent = b"", None
    while True:
        if select.select([terminal], [], [], 60)[0] == []:
            run.kill()
            raise AssertionError("no output for a minute: %r" % shown)
        try:
            chunk = os.read(terminal, 4096)
        except OSError:  # the terminal's other end is closed: all has been read
            break
        if not chunk:
            break
        shown += chunk
        if until is not None and sent is None and until in shown:
            sent = os.listdir(cwd)
            run.send_signal(then)
    os.close(terminal)
    return run.wait(), shown, sent


def held_back(picture, stderr):
    """Runs quorvex-pack on `picture` into standard output, read only after 1.5 s."""
    out, into = os.pipe()
    fcntl.fcntl(into, fcntl.F_SETPIPE_SZ, 1 << 20)
    run = subprocess.Popen([PACK, picture, "-"], stdout=into, stderr=stderr)
    os.close(into)
    time.sleep(1.5)
    with os.fdopen(out, "rb") as f:
        tiles = f.read()
    said = run.communicate()[1]
    assert run.returncode == 0, run.returncode
    return tiles, said


with tempfile.TemporaryDirectory() as folder:
    picture, packed = os.path.join(folder, "p.bmp"), os.path.join(folder, "t.tis")
    with open(picture, "wb") as f:
        f.write(bitmap(40 * 64, 6 * 64))
    subprocess.run([PACK, picture, packed], check=True, stdout=subprocess.DEVNULL)
    with open(packed, "rb") as f:
        expected = f.read()

    terminal, seat = pty.openpty()
    started = time.monotonic()
    tiles, _ = held_back(picture, seat)
    took = time.monotonic() - started
    os.close(seat)
    shown = b""
    try:
        while chunk := os.read(terminal, 4096):
            shown += chunk
    except OSError:  # the terminal's other end is closed: all has been read
        pass
    assert tiles == expected, "standard output is not the tile data"
    line = rb"\rPacking: (\d+) of \d+ block-rows, (\d+\.\d) a second *"
    # The line drawn as the held-back last block-row is done counts all of them.
    assert re.fullmatch(rb"Quorvex v1.0 by Velkaran\r\n(%s)*\rPacking: 6 of 6 block-rows, [\d.]+ a second *\r +\r%s\r\n" % (line, DONE), shown), shown
    # The rows done over the time the line was drawn, past the second and within the run, is
    # the rate, rounded to a tenth.
    assert all(int(done) / took - 0.05 <= float(rate) <= int(done) + 0.05 for done, rate in re.findall(line, shown)), (took, shown)

    tiles, said = held_back(picture, subprocess.PIPE)
    assert tiles == expected and said == b"Quorvex v1.0 by Velkaran\n" + DONE + b"\n", said

    # Tile data is not written to a terminal, whatever names it; --force writes it.
    refused = b"Quorvex v1.0 by Velkaran\r\nTile data is not written to a terminal; use --force to write it anyway\r\n"
    for tisfile in ["-", "/dev/stdout", "/dev/tty"]:
        assert on_terminal([PACK, picture, tisfile])[:2] == (1, refused), tisfile
    status, shown, _ = on_terminal([PACK, "--force", picture, "-"])
    assert status == 0 and len(shown) > len(expected), shown[:100]

    # An interrupt erases the progress line and drops the temporary file, which the named
    # build has given a name; the run ends by the signal. Noise takes a while to reduce.
    random.seed(7)
    with open(os.path.join(folder, "noise.bmp"), "wb") as f:
        f.write(bitmap(32 * 64, 64 * 64, random.randbytes(32 * 64 * 64 * 64 * 3)))
    for program, signal_number in [(PACK, signal.SIGINT), (NAMED, signal.SIGTERM)]:
        status, shown, before = on_terminal([program, "--threads", "1", "noise.bmp", "t.tis"], folder,
                                            b" a second", signal_number)
        assert status == -signal_number, (status, shown)
        assert re.fullmatch(rb"Quorvex v1.0 by Velkaran\r\n(%s)+\r +\r" % line, shown), shown
        assert sorted(os.listdir(folder)) == ["noise.bmp", "p.bmp", "t.tis"], os.listdir(folder)
        assert program == PACK or any(".t.tis.partial-" in name for name in before), before
        with open(packed, "rb") as f:
            assert f.read() == expected, "the tile file the run would have replaced changed"
    # quorvex too, caught once it writes the 78 MB bitmap of tile data of zeros.
    os.truncate(packed, 5120 * 64 * 100)
    run = subprocess.Popen([CONVERT_NAMED, "t.tis", "64", "100"], cwd=folder, stdout=subprocess.DEVNULL)
    partial = os.path.join(folder, ".t.bmp.partial-%d-0" % run.pid)
    while run.poll() is None and not (os.path.exists(partial) and os.path.getsize(partial) > 0):
        pass
    run.send_signal(signal.SIGINT)
    assert run.wait() == -signal.SIGINT and sorted(os.listdir(folder)) == ["noise.bmp", "p.bmp", "t.tis"], os.listdir(folder)
print("progress shown on a terminal and cleared, also on an interrupt; nothing where standard error is a pipe;"
      " tile data written to a terminal only when forced; no temporary file left by an interrupt")
