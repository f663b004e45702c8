#!/usr/bin/python3
# Speed of the block colour reduction per core, and of packing on several threads.
#
#   cmake -B build -DQUORVEX_BENCH=ON && cmake --build build -j2 --target reduce_blocks pack_threads
#   /usr/bin/python3 bench/reduce_speed.py build [RUNS]
#
# Reduces every 64 x 64 block of four photographs from Debian's python3-skimage, of a painted
# picture drawn here (flat areas, gradients, outlines, a little noise, as game art has) and of
# a crafted picture (every block 4096 distinct colours of equal red + green + blue) with
# build/bench/reduce_blocks, and prints million pixels per second of processor time on one
# thread (median of RUNS, 5 by default). Then packs the crafted picture (2048 x 2048, every
# block reduced) with build/bench/pack_threads on 1, 2 and 7 threads: wall and processor
# time, and a check that every run wrote the same bytes. Not run by CTest.
import importlib.util
import os
import subprocess
import sys
import tempfile

SIDE = 64
# The modules this needs, with the Debian packages that give them to /usr/bin/python3.
MODULES = [("numpy", "python3-numpy"), ("PIL", "python3-pil"), ("skimage", "python3-skimage")]
PHOTOS = ["astronaut.png", "coffee.png", "motorcycle_left.png", "ihc.png"]


def photographs():
    import numpy
    import skimage
    from PIL import Image
    data = os.path.join(os.path.dirname(skimage.__file__), "data")
    for name in PHOTOS:
        picture = numpy.asarray(Image.open(os.path.join(data, name)).convert("RGB"))
        yield name.split(".")[0], picture[:picture.shape[0] // SIDE * SIDE, :picture.shape[1] // SIDE * SIDE]


def painted(width=1024, height=768):
    """Sky, sun, hills and a brick wall: the flat and shaded areas of painted game art."""
    import numpy
    rng = numpy.random.default_rng(7)
    y, x = numpy.mgrid[0:height, 0:width].astype(numpy.float64)
    picture = numpy.zeros((height, width, 3))
    picture[:] = numpy.stack([70 + 90 * y / height, 120 + 80 * y / height, 230 - 30 * y / height], axis=-1)
    sun = numpy.hypot(x - 780, y - 150)
    glow = numpy.clip(1 - sun / 90, 0, 1)[..., None]
    picture = picture * (1 - glow) + numpy.array([255, 230, 120]) * glow
    for base, amplitude, period, colour in [(430, 60, 260, (60, 140, 60)), (520, 40, 170, (40, 110, 45))]:
        ridge = base + amplitude * numpy.sin(x / period * 2 * numpy.pi)
        hill = y > ridge
        shade = numpy.clip((y - ridge) / 200, 0, 1)[..., None]
        picture = numpy.where(hill[..., None], numpy.array(colour) * (1 - 0.5 * shade), picture)
        picture[numpy.abs(y - ridge) < 2] = (20, 40, 20)  # the outline
    wall = (y > 620) & (x < 600)
    mortar = ((y.astype(int) % 32) < 3) | (((x.astype(int) + 32 * ((y.astype(int) // 32) % 2)) % 64) < 3)
    picture[wall] = (150, 70, 50)
    picture[wall & mortar] = (200, 200, 190)
    picture += rng.normal(0, 2.5, picture.shape)
    return numpy.clip(picture, 0, 255).astype(numpy.uint8)


def crafted(width=2048, height=2048):
    """Every block 4096 distinct colours whose red + green + blue is 382."""
    import numpy
    rng = numpy.random.default_rng(1)
    triples = numpy.array([(r, g, 382 - r - g) for r in range(256) for g in range(256) if 0 <= 382 - r - g <= 255],
                          dtype=numpy.uint8)
    picture = numpy.empty((height, width, 3), numpy.uint8)
    for top in range(0, height, SIDE):
        for left in range(0, width, SIDE):
            block = triples[rng.choice(len(triples), SIDE * SIDE, replace=False)]
            picture[top:top + SIDE, left:left + SIDE] = block.reshape(SIDE, SIDE, 3)
    return picture


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: reduce_speed.py <build folder> [runs]")
    build = os.path.abspath(sys.argv[1])
    runs = sys.argv[2] if len(sys.argv) > 2 else "5"
    # One line naming what is missing, not a traceback from deep inside.
    missing = [package for module, package in MODULES if importlib.util.find_spec(module) is None]
    if missing:
        sys.exit(f"reduce_speed.py: {sys.executable} lacks {', '.join(missing)} (apt-get install {' '.join(missing)})")
    for tool in ("reduce_blocks", "pack_threads"):
        if not os.access(os.path.join(build, "bench", tool), os.X_OK):
            sys.exit(f"reduce_speed.py: no {build}/bench/{tool}: cmake -B {sys.argv[1]} -DQUORVEX_BENCH=ON && cmake --build {sys.argv[1]} --target {tool}")
    from PIL import Image
    pictures = [*photographs(), ("painted", painted()), ("crafted", crafted())]
    print(f"{'picture':18} {'pixels':>9} {'Mpx/s':>7}")
    with tempfile.TemporaryDirectory() as folder:
        for name, picture in pictures:
            source = os.path.join(folder, name + ".ppm")
            Image.fromarray(picture).save(source)
            output = subprocess.run([os.path.join(build, "bench", "reduce_blocks"), source,
                                     os.path.join(folder, "out.ppm"), runs],
                                    check=True, capture_output=True, text=True).stdout
            speed = output.split(", ")[1].split()[0]
            print(f"{name:18} {picture.shape[0] * picture.shape[1]:>9} {speed:>7}")
        bitmap = os.path.join(folder, "crafted.bmp")
        Image.fromarray(pictures[-1][1]).save(bitmap)
        print("packing the crafted picture, 2048 x 2048 pixels:")
        subprocess.run([os.path.join(build, "bench", "pack_threads"), bitmap, runs, "1", "2", "7"], check=True)


if __name__ == "__main__":  # layout_accuracy.py borrows the pictures
    main()
