"""quorvex-pack reads every BMP and PNG variant that image tools write, pixel for pixel.

One table: each row draws a 128 x 64 picture from a palette of at most 256 colours, writes it
in one variant (with ImageMagick, with Pillow, or by editing the bytes of such a file), checks
that the file really is that variant, packs it, converts the tile data back with quorvex and
compares every pixel with the picture drawn. Alpha is set to half where a variant has it: the
colour channels must come back as stored.

usage: picture_formats_test.py QUORVEX_PACK QUORVEX
QUORVEX_PACK_COMMAND, when set, replaces QUORVEX_PACK with a command split at spaces (for
example "wine quorvex-pack.exe").
Exit status 0 when every row passes, 1 otherwise, 77 (skipped) without ImageMagick or Pillow;
in CI (CI set) a missing tool is a failure.
"""

import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

WIDTH, HEIGHT = 128, 64


def colours(n):
    rnd = random.Random(n)
    return [tuple(rnd.randrange(256) for _ in range(3)) for _ in range(n)]


def greys(bits):
    top = (1 << bits) - 1
    return [(v * 255 // top,) * 3 for v in range(top + 1)]


def indices():
    # Every block meets every index when the palette has 256 colours.
    return [(x * 3 + y * 5 + x // 64 * 7) for y in range(HEIGHT) for x in range(WIDTH)]


def imagemagick(*args):
    def write(source, palette, out):
        subprocess.run([CONVERT, source] + list(args[:-1]) + [args[-1] + ":" + out], check=True)
    return write


HALF_ALPHA = ["-alpha", "set", "-channel", "A", "-evaluate", "set", "50%", "+channel"]


def png_type(colour_type, depth, *extra):
    return imagemagick(*extra, "-define", "png:color-type=%d" % colour_type, "-define", "png:bit-depth=%d" % depth, "PNG")


def pillow_palette(bits, transparent=False):
    def write(source, palette, out):
        from PIL import Image
        picture = Image.new("P", (WIDTH, HEIGHT))
        picture.putpalette([c for rgb in palette for c in rgb])
        picture.putdata([i % len(palette) for i in indices()])
        options = {"transparency": bytes(range(len(palette)))} if transparent else {}
        picture.save(out, "PNG", bits=bits, **options)
    return write


def pillow_rgba_bmp(source, palette, out):
    from PIL import Image
    picture = Image.open(source).convert("RGBA")
    picture.putalpha(128)
    picture.save(out, "BMP")


def edited(writer, edit):
    def write(source, palette, out):
        writer(source, palette, out)
        with open(out, "rb") as f:
            data = bytearray(f.read())
        with open(out, "wb") as f:
            f.write(edit(data))
    return write


def top_down(data):
    """The same BMP with its rows stored top first and a negative height."""
    offset, width, height, bits = struct.unpack_from("<I", data, 10)[0], *struct.unpack_from("<iiH", data, 18)[::1][:2], struct.unpack_from("<H", data, 28)[0]
    stride = (width * bits + 31) // 32 * 4
    rows = [data[offset + r * stride:offset + (r + 1) * stride] for r in range(height)]
    struct.pack_into("<i", data, 22, -height)
    return data[:offset] + b"".join(reversed(rows)) + data[offset + height * stride:]


def v4_header(data):
    """A 124-byte-header BMP cut to the 108-byte header: the last 16 bytes only name a profile."""
    assert struct.unpack_from("<I", data, 14)[0] == 124
    out = data[:14 + 108] + data[14 + 124:]
    struct.pack_into("<I", out, 14, 108)
    struct.pack_into("<I", out, 10, struct.unpack_from("<I", data, 10)[0] - 16)
    struct.pack_into("<I", out, 2, len(out))
    return out


def rle4(data):
    """An uncompressed 4-bit BMP run-length encoded: rows of two-pixel runs and of literal runs."""
    offset, width, height = struct.unpack_from("<I", data, 10)[0], *struct.unpack_from("<ii", data, 18)
    stride = (width * 4 + 31) // 32 * 4
    runs = bytearray()
    for r in range(height):
        row = data[offset + r * stride:offset + r * stride + width // 2]
        if r % 2:
            runs += b"".join(bytes((2, b)) for b in row)
        else:
            runs += b"".join(bytes((0, 2 * len(row[k:k + 32]))) + row[k:k + 32] for k in range(0, len(row), 32))
        runs += b"\0\0"
    out = data[:offset] + runs + b"\0\1"
    struct.pack_into("<I", out, 30, 2)
    struct.pack_into("<I", out, 34, len(runs) + 2)
    struct.pack_into("<I", out, 2, len(out))
    return out


def bmp_kind(data):
    compression = ("", "RLE8", "RLE4", "bit fields")[struct.unpack_from("<I", data, 30)[0]]
    return ("BMP", struct.unpack_from("<I", data, 14)[0], struct.unpack_from("<H", data, 28)[0],
            struct.unpack_from("<i", data, 22)[0] < 0, compression)


def png_kind(data):
    return "PNG", data[24], data[25], data[28] == 1


# name, palette, writer, what the file must be: (BMP, header bytes, bits per pixel, top-down,
# compression) or (PNG, bit depth, colour type, interlaced)
ROWS = [
    ("BMP 1-bit", colours(2), imagemagick("-type", "palette", "BMP3"), ("BMP", 40, 1, False, "")),
    ("BMP 4-bit", colours(16), imagemagick("-type", "palette", "BMP3"), ("BMP", 40, 4, False, "")),
    ("BMP 4-bit run-length encoded", colours(16), edited(imagemagick("-type", "palette", "BMP3"), rle4), ("BMP", 40, 4, False, "RLE4")),
    ("BMP 8-bit", colours(256), imagemagick("-type", "palette", "-compress", "none", "BMP3"), ("BMP", 40, 8, False, "")),
    ("BMP 8-bit run-length encoded", colours(256), imagemagick("-type", "palette", "BMP3"), ("BMP", 40, 8, False, "RLE8")),
    ("BMP 24-bit", colours(256), imagemagick("-type", "truecolor", "BMP3"), ("BMP", 40, 24, False, "")),
    ("BMP 32-bit", colours(256), pillow_rgba_bmp, ("BMP", 40, 32, False, "")),
    ("BMP 24-bit top-down", colours(256), edited(imagemagick("-type", "truecolor", "BMP3"), top_down), ("BMP", 40, 24, True, "")),
    ("BMP 8-bit top-down", colours(256), edited(imagemagick("-type", "palette", "-compress", "none", "BMP3"), top_down),
     ("BMP", 40, 8, True, "")),
    ("BMP 4-bit, 108-byte header", colours(16), edited(imagemagick("-type", "palette", "BMP"), v4_header), ("BMP", 108, 4, False, "")),
    ("BMP 24-bit, 108-byte header", colours(256), edited(imagemagick("-type", "truecolor", "BMP"), v4_header),
     ("BMP", 108, 24, False, "")),
    ("BMP 1-bit, 124-byte header", colours(2), imagemagick("-type", "palette", "BMP"), ("BMP", 124, 1, False, "")),
    ("BMP 8-bit run-length encoded, 124-byte header", colours(256), imagemagick("-type", "palette", "BMP"),
     ("BMP", 124, 8, False, "RLE8")),
    ("BMP 32-bit, 124-byte header", colours(256), imagemagick(*HALF_ALPHA, "BMP"), ("BMP", 124, 32, False, "bit fields")),
    ("PNG grey 1-bit", greys(1), png_type(0, 1), ("PNG", 1, 0, False)),
    ("PNG grey 2-bit", greys(2), png_type(0, 2), ("PNG", 2, 0, False)),
    ("PNG grey 4-bit", greys(4), png_type(0, 4), ("PNG", 4, 0, False)),
    ("PNG grey 8-bit", greys(8), png_type(0, 8), ("PNG", 8, 0, False)),
    ("PNG grey 16-bit", greys(8), png_type(0, 16), ("PNG", 16, 0, False)),
    ("PNG RGB 8-bit", colours(256), png_type(2, 8), ("PNG", 8, 2, False)),
    ("PNG RGB 16-bit", colours(256), png_type(2, 16), ("PNG", 16, 2, False)),
    ("PNG palette 1-bit", colours(2), pillow_palette(1), ("PNG", 1, 3, False)),
    ("PNG palette 2-bit", colours(4), pillow_palette(2), ("PNG", 2, 3, False)),
    ("PNG palette 4-bit", colours(16), pillow_palette(4), ("PNG", 4, 3, False)),
    ("PNG palette 8-bit", colours(256), pillow_palette(8), ("PNG", 8, 3, False)),
    ("PNG palette 8-bit, transparency", colours(256), pillow_palette(8, True), ("PNG", 8, 3, False)),
    ("PNG grey and alpha 8-bit", greys(8), png_type(4, 8, *HALF_ALPHA), ("PNG", 8, 4, False)),
    ("PNG grey and alpha 16-bit", greys(8), png_type(4, 16, *HALF_ALPHA), ("PNG", 16, 4, False)),
    ("PNG RGBA 8-bit", colours(256), png_type(6, 8, *HALF_ALPHA), ("PNG", 8, 6, False)),
    ("PNG RGBA 16-bit", colours(256), png_type(6, 16, *HALF_ALPHA), ("PNG", 16, 6, False)),
    ("PNG grey 1-bit interlaced", greys(1), png_type(0, 1, "-interlace", "PNG"), ("PNG", 1, 0, True)),
    ("PNG grey 16-bit interlaced", greys(8), png_type(0, 16, "-interlace", "PNG"), ("PNG", 16, 0, True)),
    ("PNG RGB 8-bit interlaced", colours(256), png_type(2, 8, "-interlace", "PNG"), ("PNG", 8, 2, True)),
    ("PNG RGBA 16-bit interlaced", colours(256), png_type(6, 16, "-interlace", "PNG", *HALF_ALPHA), ("PNG", 16, 6, True)),
]


def main():
    global CONVERT
    pack, quorvex = os.environ.get("QUORVEX_PACK_COMMAND", "").split() or [sys.argv[1]], sys.argv[2]
    CONVERT = shutil.which("convert-im6.q16") or shutil.which("/usr/bin/convert")
    try:
        from PIL import Image
    except ImportError:
        Image = None
    if not CONVERT or Image is None:
        print("ImageMagick or Pillow is missing")
        return 1 if os.environ.get("CI") else 77
    failed = 0
    with tempfile.TemporaryDirectory() as work:
        for name, palette, writer, kind in ROWS:
            source, picture, tiles = (os.path.join(work, f) for f in ("source.png", "picture", "tiles.tis"))
            drawn = Image.new("RGB", (WIDTH, HEIGHT))
            drawn.putdata([palette[i % len(palette)] for i in indices()])
            drawn.save(source)
            writer(source, palette, picture)
            with open(picture, "rb") as f:
                data = f.read()
            found = (bmp_kind if data[:2] == b"BM" else png_kind)(data)
            packed = subprocess.run(pack + [picture, tiles], capture_output=True, text=True)
            converted = subprocess.run([quorvex, tiles, "2", "1"], capture_output=True)
            back = Image.open(os.path.join(work, "tiles.bmp")).convert("RGB").tobytes() if converted.returncode == 0 else b""
            if found != kind or packed.returncode != 0 or back != drawn.tobytes():
                failed += 1
                print("FAILED: %s: file is %s, packing said %r" % (name, found, packed.stdout))
            else:
                print("ok: %s" % name)
            for f in os.listdir(work):
                os.remove(os.path.join(work, f))
    print("%d of %d variants failed" % (failed, len(ROWS)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
