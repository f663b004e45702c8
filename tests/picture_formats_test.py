# Pictures through image tools that nobody here wrote, pixel for pixel.
#
# One table for quorvex-pack: each row draws a 128 x 128 picture from a palette of at most 256
# colours, writes it in one BMP or PNG variant (ImageMagick or Pillow, some then edited byte by
# byte or run-length encoded by hand), checks that the file is that variant, packs it, converts
# the tile data back with quorvex and compares every pixel with Pillow's decoding of the file
# (or ImageMagick's, where Pillow reads the variant wrong); packed through a pipe, it must give
# the same tile data.
# Alpha is half where a variant has it: the colour channels must come back as stored. Nothing
# is retried: a picture that packs differently from run to run fails. Then PNG pictures edited
# byte by byte must be refused with their reason, from a file and through a pipe.
# Then quorvex's own bitmaps, of the shipped sample and of random tile data of odd shapes: both
# ImageMagick and Pillow must decode each as a BMP of the right size whose pixels, top-left
# first, are the ones the file stores bottom-up; the sample must show exactly the pixels of the
# README's picture, which was checked by eye.
#
# With --wide instead, one bitmap of random tile data 16385 blocks wide (past 2^20 pixels, 200 MB)
# must pack back to tile data that converts to the same bitmap; skipped without 1 GB free.
#
# usage: picture_formats_test.py QUORVEX_PACK QUORVEX [--wide]
# QUORVEX_PACK_COMMAND, when set, replaces QUORVEX_PACK (split at spaces, e.g. "wine x.exe").
# Exit status 0 when every row passes, 1 otherwise, 77 (skipped) without ImageMagick or Pillow;
# in CI (CI set) a missing tool is a failure.
import filecmp, importlib.util, os, random, shutil, struct, subprocess, sys, tempfile, warnings, zlib
from pathlib import Path

Image = importlib.util.find_spec("PIL") and importlib.import_module("PIL.Image")
# Pillow asks for palette transparency as RGBA; the colours alone are compared here.
warnings.filterwarnings("ignore", "Palette images with Transparency")
CONVERT = shutil.which("convert-im6.q16") or shutil.which("/usr/bin/convert")
if not (CONVERT and Image):
    print("missing decoders: needs ImageMagick and Pillow (Debian: imagemagick, python3-pil)")
    sys.exit(1 if os.environ.get("CI") else 77)
WIDTH, HEIGHT = 128, 128
HALF_ALPHA = ["-alpha", "set", "-channel", "A", "-evaluate", "set", "50%", "+channel"]
SOURCE = Path(__file__).resolve().parent.parent


def colours(n):
    rnd = random.Random(n)
    return [tuple(rnd.randrange(256) for _ in range(3)) for _ in range(n)]


def greys(bits):
    top = (1 << min(bits, 8)) - 1
    return [(v * 255 // top,) * 3 for v in range(top + 1)]


def indices():
    # Every block meets every index when the palette has 256 colours.
    return [x * 3 + y * 5 + x // 64 * 7 for y in range(HEIGHT) for x in range(WIDTH)]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def magick(*args):
    return lambda source, palette, out: subprocess.run([CONVERT, source, *args[:-1], args[-1] + ":" + out], check=True)


def png(colour_type, depth, *extra):
    return magick(*extra, "-define", "png:color-type=%d" % colour_type, "-define", "png:bit-depth=%d" % depth, "PNG")


def pillow_palette(bits, transparent=False):
    def write(source, palette, out):
        picture = Image.new("P", (WIDTH, HEIGHT))
        picture.putpalette([c for rgb in palette for c in rgb])
        picture.putdata([i % len(palette) for i in indices()])
        picture.save(out, "PNG", bits=bits, **({"transparency": bytes(range(len(palette)))} if transparent else {}))
    return write


def pillow_rgba_bmp(source, palette, out):
    Image.merge("RGBA", (*Image.open(source).convert("RGB").split(), Image.new("L", (WIDTH, HEIGHT), 128))).save(out, "BMP")


def top_down(data):
    # Rows stored top first, height negative.
    offset, (width, height), bits = u32(data, 10), struct.unpack_from("<ii", data, 18), data[28]
    stride = (width * bits + 31) // 32 * 4
    rows = [data[offset + r * stride:offset + (r + 1) * stride] for r in reversed(range(height))]
    struct.pack_into("<i", data, 22, -height)
    return data[:offset] + b"".join(rows)


def rle4(data):
    # Run-length encoded: odd rows as two-pixel runs, even rows as literals of odd lengths, and
    # row 70 skipped by a move up.
    offset, (width, height) = u32(data, 10), struct.unpack_from("<ii", data, 18)
    runs = bytearray()
    for r in range(height):
        row = data[offset + r * width // 2:offset + (r + 1) * width // 2]
        if r == 70:
            runs += b"\0\2\0\1"
            continue
        # 5 pixels in 3 bytes and their padding, the sixth alone, then the rest (61 bytes here).
        rest = row[3:] + b"\0" * (len(row[3:]) % 2)
        literals = bytes((0, 5)) + row[:3] + b"\0" + bytes((1, (row[2] & 15) << 4, 0, width - 6)) + rest
        runs += b"".join(bytes((2, b)) for b in row) if r % 2 else literals
        runs += b"\0\0"
    return run_length(data, runs + b"\0\1", 2)


def rle8(data):
    # Run-length encoded by hand: literals of odd lengths with their padding, runs, moves right
    # within rows and a move from row 62 up across the block-rows' edge.
    offset, (width, height) = u32(data, 10), struct.unpack_from("<ii", data, 18)
    runs, r, x = bytearray(), 0, 0
    while r < height:
        row = data[offset + r * width:offset + (r + 1) * width]
        n = min(7 if r % 2 else 5, width - x) if (r + x) % 4 else 1
        runs += bytes((0, n)) + row[x:x + n] + b"\0" * (n % 2) if n >= 3 else bytes((1, row[x]))
        x += n if n >= 3 else 1
        if r == 62 and x >= 10:
            runs, r, x = runs + b"\0\2\3\3", 65, x + 3
        elif x == width:
            runs, r, x = runs + b"\0\0" + b"\0\2\5\0" * (r % 3 == 0), r + 1, 5 * (r % 3 == 0)
    return run_length(data, runs + b"\0\1", 1)


def run_length(data, runs, compression):
    out = data[:u32(data, 10)] + runs
    struct.pack_into("<II", out, 30, compression, len(runs))
    struct.pack_into("<I", out, 2, len(out))
    return out


def no_end_mark(data):
    # Run-length data that ends with the last pixel of the last row: its row end and the
    # bitmap's end left out.
    assert data.endswith(b"\0\0\0\1")
    return run_length(data, data[u32(data, 10):-4], u32(data, 30))


def header(size, compression=None):
    # The 124-byte header cut to `size` bytes; a 40-byte one keeps the three masks after it.
    def edit(data):
        keep = size + 12 if size == 40 and u32(data, 30) == 3 else size
        out = data[:14 + keep] + data[14 + 124:]
        struct.pack_into("<IIII", out, 2, len(out), 0, u32(data, 10) - (124 - keep), size)
        if compression is not None:
            struct.pack_into("<I", out, 30, compression)
        return out
    return edit


def one_idat(data):
    # The pixels' chunks joined into one of more than 2^16 bytes, as large pictures have.
    idats = [(at, length) for at, name, length in chunks(data) if name == b"IDAT"]
    joined = b"".join(data[at + 8:at + 8 + length] for at, length in idats)
    assert len(joined) > 1 << 16, len(joined)
    body, end = b"IDAT" + joined, idats[-1][0] + 12 + idats[-1][1]
    return data[:idats[0][0]] + struct.pack(">I", len(joined)) + body + struct.pack(">I", zlib.crc32(body)) + data[end:]


def kind(data):
    if data[:2] != b"BM":
        return "PNG", data[24], data[25], data[28] == 1
    if u32(data, 14) == 12:
        return "BMP", 12, data[24], False, 0
    return "BMP", u32(data, 14), data[28], struct.unpack_from("<i", data, 22)[0] < 0, u32(data, 30)


# name, palette, writer, byte edit, what the file must be: (BMP, header bytes, bits per pixel,
# top-down, compression: 1 RLE8, 2 RLE4, 3 bit fields) or (PNG, bit depth, colour type, interlaced)
C256, PALETTE_BMP3 = colours(256), magick("-type", "palette", "BMP3")
PLAIN_BMP3 = magick("-type", "palette", "-compress", "none", "BMP3")
SUBTYPE = lambda name: magick("-define", "bmp:subtype=" + name, "BMP")
# Read back with ImageMagick instead: Pillow 9.4 takes a move in run-length data for 4 bytes
# more than it is and clips 16-bit grey; and as written before the header was cut, since it does
# not read the 52 and 56-byte headers.
BY_IMAGEMAGICK = {"BMP 4-bit RLE", "BMP 8-bit RLE by hand: moves, odd literals", "PNG grey 16-bit",
                  "PNG grey 16-bit interlaced"}
UNCUT = {"BMP 16-bit 5-6-5 masks, 52-byte header", "BMP 32-bit masks, 56-byte header"}
ROWS = [
    ("BMP 1-bit", colours(2), PALETTE_BMP3, None, ("BMP", 40, 1, False, 0)),
    ("BMP 4-bit", colours(16), PALETTE_BMP3, None, ("BMP", 40, 4, False, 0)),
    ("BMP 4-bit RLE", colours(16), PALETTE_BMP3, rle4, ("BMP", 40, 4, False, 2)),
    ("BMP 8-bit", C256, magick("-type", "palette", "-compress", "none", "BMP3"), None, ("BMP", 40, 8, False, 0)),
    ("BMP 8-bit RLE", C256, PALETTE_BMP3, None, ("BMP", 40, 8, False, 1)),
    ("BMP 8-bit RLE by hand: moves, odd literals", C256, PLAIN_BMP3, rle8, ("BMP", 40, 8, False, 1)),
    ("BMP 8-bit RLE, no end mark after the last row", C256, PALETTE_BMP3, no_end_mark, ("BMP", 40, 8, False, 1)),
    ("BMP 8-bit, 200 colours", colours(200), PLAIN_BMP3, None, ("BMP", 40, 8, False, 0)),
    ("BMP 8-bit, 12-byte header", C256, magick("-type", "palette", "BMP2"), None, ("BMP", 12, 8, False, 0)),
    ("BMP 24-bit, 12-byte header", C256, magick("-type", "truecolor", "BMP2"), None, ("BMP", 12, 24, False, 0)),
    ("BMP 16-bit 5-6-5 masks", C256, SUBTYPE("RGB565"), None, ("BMP", 124, 16, False, 3)),
    ("BMP 16-bit 5-6-5 masks, 52-byte header", C256, SUBTYPE("RGB565"), header(52), ("BMP", 52, 16, False, 3)),
    ("BMP 16-bit 5-5-5, no masks", C256, SUBTYPE("RGB555"), header(40, 0), ("BMP", 40, 16, False, 0)),
    ("BMP 32-bit masks after a 40-byte header", C256, magick(*HALF_ALPHA, "BMP"), header(40), ("BMP", 40, 32, False, 3)),
    ("BMP 32-bit masks, 56-byte header", C256, magick(*HALF_ALPHA, "BMP"), header(56), ("BMP", 56, 32, False, 3)),
    ("BMP 24-bit", C256, magick("-type", "truecolor", "BMP3"), None, ("BMP", 40, 24, False, 0)),
    ("BMP 32-bit", C256, pillow_rgba_bmp, None, ("BMP", 40, 32, False, 0)),
    ("BMP 24-bit top-down", C256, magick("-type", "truecolor", "BMP3"), top_down, ("BMP", 40, 24, True, 0)),
    ("BMP 8-bit top-down", C256, magick("-type", "palette", "-compress", "none", "BMP3"), top_down, ("BMP", 40, 8, True, 0)),
    ("BMP 4-bit, 108-byte header", colours(16), magick("-type", "palette", "BMP"), header(108), ("BMP", 108, 4, False, 0)),
    ("BMP 24-bit, 108-byte header", C256, magick("-type", "truecolor", "BMP"), header(108), ("BMP", 108, 24, False, 0)),
    ("BMP 1-bit, 124-byte header", colours(2), magick("-type", "palette", "BMP"), None, ("BMP", 124, 1, False, 0)),
    ("BMP 8-bit RLE, 124-byte header", C256, magick("-type", "palette", "BMP"), None, ("BMP", 124, 8, False, 1)),
    ("BMP 32-bit, 124-byte header", C256, magick(*HALF_ALPHA, "BMP"), None, ("BMP", 124, 32, False, 3)),
    *((f"PNG grey {d}-bit", greys(d), png(0, d), None, ("PNG", d, 0, False)) for d in (1, 2, 4, 8, 16)),
    ("PNG RGB 8-bit", C256, png(2, 8), None, ("PNG", 8, 2, False)),
    ("PNG RGB 16-bit", C256, png(2, 16), None, ("PNG", 16, 2, False)),
    # 16-bit samples keep their high byte, as Pillow reads them (ImageMagick rounds instead).
    ("PNG RGB 16-bit, low bytes not the high ones", C256, png(2, 16, "-evaluate", "subtract", "0.3%"), None, ("PNG", 16, 2, False)),
    *((f"PNG palette {d}-bit", colours(1 << d), pillow_palette(d), None, ("PNG", d, 3, False)) for d in (1, 2, 4, 8)),
    *((f"PNG palette {d}-bit, transparency", colours(1 << d), pillow_palette(d, True), None, ("PNG", d, 3, False)) for d in (1, 2, 4, 8)),
    ("PNG grey and alpha 8-bit", greys(8), png(4, 8, *HALF_ALPHA), None, ("PNG", 8, 4, False)),
    ("PNG grey and alpha 16-bit", greys(8), png(4, 16, *HALF_ALPHA), None, ("PNG", 16, 4, False)),
    ("PNG RGBA 8-bit", C256, png(6, 8, *HALF_ALPHA), None, ("PNG", 8, 6, False)),
    ("PNG RGBA 16-bit", C256, png(6, 16, *HALF_ALPHA), None, ("PNG", 16, 6, False)),
    ("PNG RGBA 16-bit, stored in one chunk", C256, png(6, 16, *HALF_ALPHA, "-define", "png:compression-level=0"), one_idat, ("PNG", 16, 6, False)),
    ("PNG grey 1-bit interlaced", greys(1), png(0, 1, "-interlace", "PNG"), None, ("PNG", 1, 0, True)),
    ("PNG grey 16-bit interlaced", greys(16), png(0, 16, "-interlace", "PNG"), None, ("PNG", 16, 0, True)),
    ("PNG RGB 8-bit interlaced", C256, png(2, 8, "-interlace", "PNG"), None, ("PNG", 8, 2, True)),
    ("PNG RGBA 16-bit interlaced", C256, png(6, 16, "-interlace", "PNG", *HALF_ALPHA), None, ("PNG", 16, 6, True)),
]


def chunks(data):
    # Every chunk in order: where it starts (its length field), its name and its length.
    at = 8
    while at + 8 <= len(data):
        length = struct.unpack_from(">I", data, at)[0]
        yield at, data[at + 4:at + 8], length
        at += 12 + length


def chunk(data, name):
    # Where the chunk `name` starts and its length.
    return next((at, length) for at, found, length in chunks(data) if found == name)


def png_edit(name, change):
    # The chunk `name` changed by `change(data, start of its content, its length)`.
    def edit(data):
        at, length = chunk(data, name)
        return change(bytearray(data), at + 8, length)
    return edit


def taller(data, at, length):
    # The header claims 2^20 + 64 rows, its CRC made right again.
    struct.pack_into(">I", data, at + 4, (1 << 20) + 64)
    struct.pack_into(">I", data, at + length, zlib.crc32(data[at - 4:at + length]))
    return data


def with_text(data, at, length):
    # 17 MiB of compressed text, 17 KB stored, before the pixels: a bomb for whoever inflates it.
    body = b"zTXt" + b"note\0\0" + zlib.compress(bytes(17 << 20), 9)
    return data[:at - 8] + struct.pack(">I", len(body) - 4) + body + struct.pack(">I", zlib.crc32(body)) + data[at - 8:]


# Pictures refused, from a file and through a pipe, each an RGBA 16-bit PNG edited: what
# quorvex-pack says after the picture's name, and nothing written. The unedited one packs.
TOO_LARGE = " is too large for a PNG: at most 1048576 pixels wide and high, and 1 GiB decoded when interlaced"
CUT_SHORT = " is cut short: its PNG data ends early"
REFUSALS = [
    ("RGBA 16-bit within the size limit", lambda data: data, None),
    ("RGBA 16-bit past the size limit", png_edit(b"IHDR", taller), TOO_LARGE),
    ("cut short in its IDAT", png_edit(b"IDAT", lambda data, at, length: data[:at + length // 2]), CUT_SHORT),
    ("an IDAT that fails its CRC", png_edit(b"IDAT", lambda data, at, length: data[:at + length] + bytes(4 - 1) + b"\1" +
                                            data[at + length + 4:]), " is a damaged PNG: invalid chunk checksum"),
    ("no IEND", png_edit(b"IEND", lambda data, at, length: data[:at - 8]), CUT_SHORT),
    ("a text inflating past 16 MiB", png_edit(b"IDAT", with_text),
     " is too large for a PNG: its chunks beside the pixels hold more than 16 MiB or 1000 entries"),
]


def refusals(work, pack):
    failed = 0
    source, picture = os.path.join(work, "refused.png"), os.path.join(work, "rgba16.png")
    drawn = Image.new("RGB", (WIDTH, HEIGHT))
    drawn.putdata([C256[i % 256] for i in indices()])
    drawn.save(source)
    png(6, 16, *HALF_ALPHA)(source, C256, picture)
    original = Path(picture).read_bytes()
    for name, edit, refusal in REFUSALS:
        data = edit(original)
        Path(picture).write_bytes(data)
        for shown, arguments, given in ((picture, [picture], None), ("standard input", ["-"], data)):
            tiles = os.path.join(work, "refused.tis")
            done = subprocess.run(pack + arguments + [tiles], input=given, capture_output=True)
            said = done.stdout.decode().splitlines()[-1:]
            want = [shown + refusal] if refusal else ["Tis file written: 2 x 2 blocks, 0 reduced to 256 colours"]
            ok = said == want and done.returncode == (1 if refusal else 0) and os.path.exists(tiles) == (refusal is None)
            failed += not ok
            print("%s: PNG %s, %s%s" % ("ok" if ok else "FAILED", name, "through a pipe" if given else "from a file",
                                        "" if ok else "; status %d, %r" % (done.returncode, said)))
            if os.path.exists(tiles):
                os.remove(tiles)
    return failed


def stored_rgb(bitmap, width):
    # A bitmap's own pixels as red, green, blue, rows from the top.
    rows = [bitmap[at:at + 192 * width] for at in range(54, len(bitmap), 192 * width)]
    pixels = bytearray(b"".join(reversed(rows)))
    pixels[0::3], pixels[2::3] = pixels[2::3], pixels[0::3]
    return bytes(pixels)


def pillow(path):
    with Image.open(path) as image:
        return image.format, image.size, image.convert("RGB").tobytes()


def imagemagick(path):
    info = subprocess.run([CONVERT, path, "-format", "%m %w %h", "info:"], capture_output=True, text=True, check=True)
    raw = subprocess.run([CONVERT, path, "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
    kind, width, height = info.stdout.split()
    return {"BMP3": "BMP"}.get(kind, kind), (int(width), int(height)), raw


def main(work):
    pack, quorvex = os.environ.get("QUORVEX_PACK_COMMAND", "").split() or [sys.argv[1]], os.path.abspath(sys.argv[2])
    failed = 0
    for name, palette, write, edit, expected in ROWS:
        row = tempfile.mkdtemp(dir=work)  # nothing left from an earlier row can pass for this one's
        source, picture, tiles = (os.path.join(row, f) for f in ("source.png", "picture", "tiles.tis"))
        drawn = Image.new("RGB", (WIDTH, HEIGHT))
        drawn.putdata([palette[i % len(palette)] for i in indices()])
        drawn.save(source)
        write(source, palette, picture)
        data = bytearray(Path(picture).read_bytes())
        want = pillow(picture)[2] if name in UNCUT else None
        if edit:
            Path(picture).write_bytes(data := edit(data))
        packed = subprocess.run(pack + [picture, tiles], capture_output=True, text=True)
        # Through a pipe too (a BMP copied to a temporary file, a PNG decoded as it comes), after
        # its own packing as the original: every block unchanged, the same bytes.
        piped = subprocess.run(pack + ["--like", tiles, "-", tiles + ".piped"], input=bytes(data), capture_output=True)
        same = packed.returncode == piped.returncode == 0 and filecmp.cmp(tiles, tiles + ".piped", shallow=False)
        converted = subprocess.run([quorvex, tiles, "2", "2"], capture_output=True).returncode == 0
        back = Image.open(os.path.join(row, "tiles.bmp")).convert("RGB").tobytes() if converted else b""
        ok = kind(data) == expected and packed.returncode == 0 and same and back == (want or (imagemagick if name in BY_IMAGEMAGICK else pillow)(picture)[2])
        failed += not ok
        print("%s: %s (file is %s)%s" % ("ok" if ok else "FAILED", name, kind(data), "" if ok else "; status %d, %r %r" % (packed.returncode, packed.stdout, packed.stderr)))
    # Past 256 colours in every block: the reduction takes a PNG's pixels as it takes a BMP's.
    many = Image.new("RGB", (WIDTH, HEIGHT))
    many.putdata(colours(WIDTH * HEIGHT))
    statuses = []
    for ext in ("png", "bmp"):
        many.save(os.path.join(work, "many." + ext))
        statuses.append(subprocess.run(pack + [os.path.join(work, "many." + ext), os.path.join(work, ext + ".tis")],
                                       capture_output=True).returncode)
    ok = statuses == [0, 0] and filecmp.cmp(os.path.join(work, "png.tis"), os.path.join(work, "bmp.tis"), shallow=False)
    failed += not ok
    print("%s: a PNG of 4096 colours a block packs as the same picture as a BMP does" % ("ok" if ok else "FAILED"))
    rng = random.Random(5120)
    cases = [("sample", (SOURCE / "samples" / "sample.tis").read_bytes(), 6, 2)] + [
        (f"random-{w}x{h}", rng.randbytes(5120 * n), w, h) for w, h, n in [(1, 1, 1), (3, 1, 3), (5, 3, 15), (1, 4, 4), (7, 2, 16)]]
    for name, data, width, height in cases:
        tiles, bitmap = os.path.join(work, name + ".tis"), os.path.join(work, name + ".bmp")
        Path(tiles).write_bytes(data)
        subprocess.run([quorvex, tiles, str(width), str(height)], check=True, capture_output=True)
        want = ("BMP", (64 * width, 64 * height), stored_rgb(Path(bitmap).read_bytes(), width))
        for decoder in (pillow, imagemagick):
            ok = decoder(bitmap) == want and (name != "sample" or pillow(SOURCE / "docs" / "sample.png")[1:] == want[1:])
            failed += not ok
            print("%s: quorvex's bitmap %s read by %s" % ("ok" if ok else "FAILED", name, decoder.__name__))
    failed += refusals(work, pack)
    print("%d of %d checks failed" % (failed, len(ROWS) + 1 + 2 * len(cases) + 2 * len(REFUSALS)))
    return 1 if failed else 0


def wide(work):
    # 16385 blocks of random tile data in one block-row: 1048640 pixels wide.
    quorvex = os.path.abspath(sys.argv[2])
    if shutil.disk_usage(work).free < 1 << 30:
        print("skipped: the bitmap past 2^20 pixels wide needs 1 GB free in %s" % work)
        return 77
    blocks = 16385
    tiles, bitmap, packed = (os.path.join(work, f) for f in ("wide.tis", "wide.bmp", "packed.tis"))
    Path(tiles).write_bytes(random.Random(16385).randbytes(5120 * blocks))
    subprocess.run([quorvex, tiles, str(blocks), "1"], check=True, capture_output=True)
    os.rename(bitmap, os.path.join(work, "original.bmp"))
    subprocess.run([sys.argv[1], os.path.join(work, "original.bmp"), packed], check=True, capture_output=True)
    subprocess.run([quorvex, packed, str(blocks), "1"], check=True, capture_output=True)
    same = filecmp.cmp(os.path.join(work, "original.bmp"), os.path.join(work, "packed.bmp"), shallow=False)
    print("%s: a bitmap %d pixels wide packs back exactly" % ("ok" if same else "FAILED", 64 * blocks))
    return 0 if same else 1


if __name__ == "__main__":
    with tempfile.TemporaryDirectory(prefix="quorvex-pictures-") as folder:
        sys.exit(wide(folder) if sys.argv[3:] == ["--wide"] else main(folder))
