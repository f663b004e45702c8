"""Bitmaps written by quorvex, read by decoders that nobody here wrote.

Converts the shipped sample and generated tile data of several shapes, decodes each bitmap
with ImageMagick and with Pillow, and compares every decoded pixel, top-left first, with the
colour its tile data gives it, worked out here from the tile layout alone.

usage: decoder_interop_test.py QUORVEX SAMPLE.tis [SAMPLE.png]
With SAMPLE.png, the README's picture of the sample must show the same pixels too.
Exit status 0 when every pixel matches, 1 on any difference, 77 (skipped) when a decoder is
missing; in CI (CI set) a missing decoder is a failure.
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77
SIDE = 64
RECORD = 5120
PALETTE = 1024


def expected_rgb(data, width, height):
    """Red, green, blue of every pixel, rows from the top, read straight off the tile data."""
    out = bytearray()
    for y in range(SIDE * height):
        for x in range(SIDE * width):
            start = RECORD * ((y // SIDE) * width + x // SIDE)
            index = data[start + PALETTE + (y % SIDE) * SIDE + x % SIDE]
            blue, green, red = data[start + 4 * index:start + 4 * index + 3]
            out += bytes((red, green, blue))
    return bytes(out)


def find_imagemagick():
    """The real ImageMagick: a plain `convert` earlier on PATH may be something else."""
    for name in ("convert-im6.q16", "magick", "convert-im7.q16", "/usr/bin/convert"):
        program = shutil.which(name)
        if not program:
            continue
        version = subprocess.run([program, "-version"], capture_output=True, text=True)
        if version.returncode == 0 and "ImageMagick" in version.stdout:
            return program
    return None


def decode_imagemagick(program, path):
    info = subprocess.run([program, path, "-format", "%m %w %h", "info:"], capture_output=True, text=True)
    raw = subprocess.run([program, path, "-depth", "8", "rgb:-"], capture_output=True)
    if info.returncode != 0 or raw.returncode != 0:
        return "refused: " + (info.stderr + raw.stderr.decode(errors="replace")).strip(), None, b""
    kind, width, height = info.stdout.split()
    return kind, (int(width), int(height)), raw.stdout


def decode_pillow(path):
    from PIL import Image
    try:
        with Image.open(path) as image:
            image.load()
            return image.format, image.size, image.convert("RGB").tobytes()
    except (OSError, ValueError) as error:
        return f"refused: {error}", None, b""


def first_difference(expected, actual, width_pixels):
    for at in range(0, min(len(expected), len(actual)), 3):
        if expected[at:at + 3] != actual[at:at + 3]:
            pixel = at // 3
            return (f"pixel ({pixel % width_pixels}, {pixel // width_pixels}) is "
                    f"{tuple(actual[at:at + 3])}, expected {tuple(expected[at:at + 3])}")
    return f"{len(actual)} bytes of pixels, expected {len(expected)}"


def main():
    quorvex, sample = os.path.abspath(sys.argv[1]), sys.argv[2]
    missing = []
    imagemagick = find_imagemagick()
    if not imagemagick:
        missing.append("ImageMagick (Debian: imagemagick)")
    try:
        import PIL  # noqa: F401
    except ImportError:
        missing.append(f"Pillow for {sys.executable} (Debian: python3-pil)")
    if missing:
        print("missing decoders: " + ", ".join(missing))
        return 1 if os.environ.get("CI") else SKIPPED

    with open(sample, "rb") as f:
        cases = [("sample", f.read(), 6, 2)]
    rng = random.Random(5120)
    # Odd widths, a single block, a tall column, and a file longer than its picture.
    for name, width, height, records in [("one-block", 1, 1, 1), ("odd-row", 3, 1, 3),
                                         ("odd-grid", 5, 3, 15), ("column", 1, 4, 4),
                                         ("extra-records", 7, 2, 16)]:
        cases.append((name, rng.randbytes(RECORD * records), width, height))

    # Each decoder with the format name it gives a bitmap with the 40-byte information header.
    decoders = [("ImageMagick", "BMP3", lambda p: decode_imagemagick(imagemagick, p)),
                ("Pillow", "BMP", decode_pillow)]
    failures = 0
    with tempfile.TemporaryDirectory(prefix="quorvex-interop-") as folder:
        for name, data, width, height in cases:
            tiles = os.path.join(folder, name + ".tis")
            with open(tiles, "wb") as f:
                f.write(data)
            run = subprocess.run([quorvex, tiles, str(width), str(height)], capture_output=True)
            if run.returncode != 0:
                print(f"{name}: quorvex exited with {run.returncode}: {run.stdout!r}")
                failures += 1
                continue
            want = expected_rgb(data, width, height)
            size = (SIDE * width, SIDE * height)
            for decoder, format_name, decode in decoders:
                kind, got_size, got = decode(os.path.join(folder, name + ".bmp"))
                if (kind, got_size) != (format_name, size) or got != want:
                    detail = first_difference(want, got, size[0]) if got_size == size else f"size {got_size}"
                    print(f"FAIL {name} {width}x{height} via {decoder} ({kind}): {detail}")
                    failures += 1
                else:
                    print(f"ok   {name} {width}x{height} via {decoder}: {size[0] * size[1]} pixels match")
        if len(sys.argv) > 3:
            kind, got_size, got = decode_pillow(sys.argv[3])
            if (kind, got_size, got) != ("PNG", (384, 128), expected_rgb(cases[0][1], 6, 2)):
                print(f"FAIL {sys.argv[3]} ({kind}, {got_size}) is not the sample's picture")
                failures += 1
            else:
                print(f"ok   {sys.argv[3]} is the sample's picture")
    checks = 2 * len(cases) + (len(sys.argv) > 3)
    print(f"{checks - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
