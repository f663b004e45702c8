#!/usr/bin/python3
# Whole runs of quorvex-pack on PNG pictures against the same pictures as 24-bit BMP: peak
# memory, speed per processor second, and the gain of a second thread. Not run by CTest.
#
#   /usr/bin/python3 bench/png_pack.py BUILD [BUILD ...]
#
# Each BUILD folder holds quorvex and quorvex-pack; every measure is taken for each in turn,
# in one run, so two builds (say main's and this one) are compared side by side; the timed runs
# take turns run by run, so that a change in the machine's load falls on every build. Prints:
# - peak resident memory (the kernel's count, as /usr/bin/time -v gives it) packing the 200 x 150-block picture (random tile
#   data converted by quorvex) as BMP and as PNG, from the file and through a pipe;
# - peak memory and time packing a 16384 x 16320 RGBA PNG of 16 bits a channel (flat: 2 MB);
# - million pixels per second of processor time (user + system) of `--threads 1` runs on the
#   photographs of reduce_speed.py saved as PNG (median of RUNS, 3 by default);
# - wall time on 2 threads over wall time on 1 on a 2048 x 2048 mosaic of those photographs
#   saved as PNG (median of RUNS), and the median of each turn's ratio of its two runs.
# Every run must end with status 0, and every build must write the same tile data.
import filecmp
import os
import statistics
import subprocess
import sys
import tempfile
import time
import zlib

RUNS = int(os.environ.get("RUNS", "3"))


def timed(command, piped_from=None, peak=False):
    """Runs `command`, fed `piped_from` through a pipe if given: (peak KiB as /usr/bin/time
    gives it, or None, user + system s as the kernel counts them, to the microsecond, wall s)."""
    feeder = subprocess.Popen(["cat", piped_from], stdout=subprocess.PIPE) if piped_from else None
    with tempfile.NamedTemporaryFile("r") as report:
        # A child forked from this large process would count its pages in the peak; /usr/bin/time,
        # small, is what is forked then. Its own start (about 1 ms of processor time, 3 % of a
        # photograph's run) would count in the time, so the timed runs go without it.
        measure = ["/usr/bin/time", "-o", report.name, "-f", "%M"] if peak else []
        started = time.monotonic()
        process = subprocess.Popen([*measure, *command], stdin=feeder.stdout if feeder else subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if feeder:
            feeder.stdout.close()
        # Read, then reaped here: wait4 gives the processor time of the program (and of /usr/bin/time).
        out, err = process.stdout.read(), process.stderr.read()
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = status
        wall = time.monotonic() - started
        if feeder:
            feeder.wait()
        if status != 0:
            raise RuntimeError("failed: %s: %s%s" % (" ".join(command), out.decode()[-200:], err.decode()[-200:]))
        kib = int(report.read().split()[-1]) if peak else None
    return kib, usage.ru_utime + usage.ru_stime, wall


def flat_rgba16(path, width=16384, height=16320):
    """A grey RGBA PNG of 16 bits a channel, written row by row: 2 GiB of pixels in 2 MB."""
    def chunk(name, data):
        return len(data).to_bytes(4, "big") + name + data + zlib.crc32(name + data).to_bytes(4, "big")
    row = b"\0" + bytes([0x80, 0x40, 0x80, 0x40, 0x80, 0x40, 0xFF, 0xFF]) * width
    packer = zlib.compressobj(9)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", width.to_bytes(4, "big") + height.to_bytes(4, "big") +
                                              bytes([16, 6, 0, 0, 0])))
        pending = b"".join(packer.compress(row) for _ in range(height)) + packer.flush()
        out.write(chunk(b"IDAT", pending) + chunk(b"IEND", b""))


def photographs():
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import numpy
    import skimage
    from PIL import Image
    data = os.path.join(os.path.dirname(skimage.__file__), "data")
    for name in ["astronaut.png", "coffee.png", "motorcycle_left.png", "ihc.png"]:
        picture = numpy.asarray(Image.open(os.path.join(data, name)).convert("RGB"))
        yield name.split(".")[0], picture[:picture.shape[0] // 64 * 64, :picture.shape[1] // 64 * 64]


def turns(builds, runs):
    """Each build's index and folder once per turn, `runs` turns, each turn begun by the next build."""
    for turn in range(runs):
        for step in range(len(builds)):
            index = (turn + step) % len(builds)
            yield index, builds[index]


def mosaic(pictures, side=2048):
    """The photographs tiled over a 2048 x 2048 picture."""
    import numpy
    out = numpy.zeros((side, side, 3), numpy.uint8)
    at, shapes = 0, [p for _, p in pictures]
    for top in range(0, side, 512):
        for left in range(0, side, 512):
            picture = shapes[at % len(shapes)]
            at += 1
            out[top:top + 512, left:left + 512] = numpy.resize(picture[:512, :512], (512, 512, 3))
    return out


def main():
    builds = [os.path.abspath(b) for b in sys.argv[1:]]
    if not builds:
        sys.exit("usage: png_pack.py BUILD [BUILD ...]")
    from PIL import Image
    Image.MAX_IMAGE_PIXELS = None  # the 200 x 150-block picture is large on purpose
    work = tempfile.mkdtemp(prefix="quorvex-png-")
    path = lambda name: os.path.join(work, name)
    pack = lambda build: os.path.join(build, "quorvex-pack")
    print("builds:", ", ".join(builds))
    # The 200 x 150-block picture: random tile data drawn by the first build.
    with open(path("area.tis"), "wb") as tiles:
        tiles.write(os.urandom(5120 * 200 * 150))
    subprocess.run([os.path.join(builds[0], "quorvex"), path("area.tis"), "200", "150"], check=True,
                   capture_output=True)
    Image.open(path("area.bmp")).save(path("area.png"), compress_level=1)
    flat_rgba16(path("flat16.png"))
    photos = list(photographs())
    for name, picture in photos:
        Image.fromarray(picture).save(path(name + ".png"))
    Image.fromarray(mosaic(photos)).save(path("mosaic.png"))

    print("\npeak resident memory, MiB (wall s)")
    cases = [("200 x 150 blocks, BMP file", "area.bmp", False), ("200 x 150 blocks, PNG file", "area.png", False),
             ("200 x 150 blocks, BMP pipe", "area.bmp", True), ("200 x 150 blocks, PNG pipe", "area.png", True),
             ("16384 x 16320 RGBA16 PNG file", "flat16.png", False),
             ("16384 x 16320 RGBA16 PNG pipe", "flat16.png", True)]
    for label, name, through_pipe in cases:
        cells = []
        for index, build in enumerate(builds):
            out = path("out%d.tis" % index)
            command = [pack(build), "-" if through_pipe else path(name), out]
            try:
                peak, _, wall = timed(command, path(name) if through_pipe else None, peak=True)
                cells.append("%8.1f (%5.1f)" % (peak / 1024, wall))
            except RuntimeError as failed:
                cells.append(str(failed)[-70:].replace("\n", " "))
        same = all(filecmp.cmp(path("out0.tis"), path("out%d.tis" % i), shallow=False) for i in range(len(builds))
                   if os.path.exists(path("out%d.tis" % i)))
        print("%-32s %s%s" % (label, "  ".join(cells), "" if same else "  OUTPUTS DIFFER"))
        for index in range(len(builds)):
            if os.path.exists(path("out%d.tis" % index)):
                os.remove(path("out%d.tis" % index))

    print("\n--threads 1, million pixels per second of processor time (median of %d)" % RUNS)
    for name, picture in photos:
        pixels = picture.shape[0] * picture.shape[1]
        seconds = [[] for _ in builds]
        for index, build in turns(builds, RUNS):
            seconds[index].append(timed([pack(build), "--threads", "1", path(name + ".png"), path("o.tis")])[1])
        cells = ["%7.2f" % (pixels / max(statistics.median(runs), 0.005) / 1e6) for runs in seconds]
        print("%-32s %s" % ("%s, %d pixels" % (name, pixels), "  ".join(cells)))

    print("\n2048 x 2048 photograph mosaic as PNG: wall on 2 threads / on 1, then processor s on 1 and 2"
          " (median of %d, builds and threads taking turns); the median of each turn's own ratio, which"
          " a change of load between turns moves less" % RUNS)
    cells = []
    measured = [{1: [], 2: []} for _ in builds]
    for index, build in turns(builds, RUNS):
        for threads in (1, 2):
            measured[index][threads].append(timed([pack(build), "--threads", str(threads), path("mosaic.png"),
                                                   path("o.tis")]))
    for runs in measured:
        wall = {t: statistics.median(r[2] for r in runs[t]) for t in runs}
        processor = {t: statistics.median(r[1] for r in runs[t]) for t in runs}
        turn = statistics.median(two[2] / one[2] for one, two in zip(runs[1], runs[2]))
        cells.append("%.3f (%.2f s / %.2f s; %.2f s, %.2f s; %.3f)" % (wall[2] / wall[1], wall[2], wall[1],
                                                                     processor[1], processor[2], turn))
    print("%-32s %s" % ("load average %.1f" % os.getloadavg()[0], "  ".join(cells)))
    subprocess.run(["rm", "-rf", work], check=True)


main()
