# Bitmaps written by quorvex, read by decoders that nobody here wrote.
#
# usage: decoder_interop_test.py QUORVEX SAMPLE.tis SAMPLE.png
#
# Converts the shipped sample and random tile data of odd shapes; ImageMagick and Pillow must
# each decode every bitmap as a BMP of the right size whose pixels, top-left first, are the
# ones the file stores bottom-up. The sample must also show exactly the pixels of the README's
# picture, which was checked by eye. Exit status 77 (skipped) when a decoder is missing,
# except in CI (CI set), where that is a failure.
import os, random, shutil, subprocess, sys, tempfile

try:
    from PIL import Image
except ImportError:
    Image = None
magick = next(filter(None, map(shutil.which, ["convert-im6.q16", "convert-im7.q16", "magick"])), None)
if not (Image and magick):
    print("missing decoders: needs ImageMagick and Pillow (Debian: imagemagick, python3-pil)")
    sys.exit(1 if os.environ.get("CI") else 77)


def stored_rgb(bitmap, width):
    # The bitmap's own pixels as red, green, blue, rows from the top.
    rows = [bitmap[at:at + 192 * width] for at in range(54, len(bitmap), 192 * width)]
    pixels = bytearray(b"".join(reversed(rows)))
    pixels[0::3], pixels[2::3] = pixels[2::3], pixels[0::3]
    return bytes(pixels)


def pillow(path):
    with Image.open(path) as image:
        return image.format, image.size, image.convert("RGB").tobytes()


def imagemagick(path):
    kind, width, height = subprocess.run([magick, path, "-format", "%m %w %h", "info:"], capture_output=True,
                                         text=True, check=True).stdout.split()
    raw = subprocess.run([magick, path, "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
    return {"BMP3": "BMP"}.get(kind, kind), (int(width), int(height)), raw


rng = random.Random(5120)
with open(sys.argv[2], "rb") as f:
    cases = [("sample", f.read(), 6, 2)] + [(f"random-{w}x{h}", rng.randbytes(5120 * n), w, h)
                                           for w, h, n in [(1, 1, 1), (3, 1, 3), (5, 3, 15), (1, 4, 4), (7, 2, 16)]]
failures = 0
with tempfile.TemporaryDirectory(prefix="quorvex-interop-") as folder:
    for name, data, width, height in cases:
        tiles = os.path.join(folder, name + ".tis")
        with open(tiles, "wb") as f:
            f.write(data)
        subprocess.run([os.path.abspath(sys.argv[1]), tiles, str(width), str(height)], check=True, capture_output=True)
        with open(os.path.join(folder, name + ".bmp"), "rb") as f:
            want = ("BMP", (64 * width, 64 * height), stored_rgb(f.read(), width))
        for decoder in (pillow, imagemagick):
            if decoder(os.path.join(folder, name + ".bmp")) != want:
                print(f"FAIL {name} read by {decoder.__name__}")
                failures += 1
        if name == "sample" and pillow(sys.argv[3])[1:] != want[1:]:
            print(f"FAIL {sys.argv[3]} is not the sample's picture")
            failures += 1
print(f"{2 * len(cases) + 1 - failures} checks passed, {failures} failed")
sys.exit(1 if failures else 0)
