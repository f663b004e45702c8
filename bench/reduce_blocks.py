#!/usr/bin/python3
# Quality of the block colour reduction next to pngquant and ImageMagick, on photographs.
#
#   cmake -B build -DQUORVEX_BENCH=ON && cmake --build build -j2 --target reduce_blocks
#   /usr/bin/python3 bench/reduce_blocks.py build/bench/reduce_blocks
#
# Every picture is cut to a multiple of 64 x 64, and every 64 x 64 block is reduced to 256
# colours on its own, without dithering, by each method; the table gives the PSNR over the
# whole picture (higher is better) and the driver's speed. Photographs come from Debian's
# python3-skimage; missing packages are installed with apt-get (run as root). Not run by CTest.
import os
import subprocess
import sys
import tempfile

PACKAGES = ["pngquant", "imagemagick", "python3-pil", "python3-numpy", "python3-skimage"]
PHOTOS = ["astronaut.png", "coffee.png", "chelsea.png", "rocket.jpg", "hubble_deep_field.jpg",
          "motorcycle_left.png", "ihc.png"]
SIDE = 64


def install_missing():
    missing = [p for p in PACKAGES if subprocess.run(
        ["dpkg-query", "-W", "-f=${Status}", p], capture_output=True, text=True).stdout
        != "install ok installed"]
    if missing:
        # One line naming what is missing when it cannot be installed, not a traceback.
        if subprocess.run(["apt-get", "install", "-y", "--no-install-recommends", *missing],
                          env={**os.environ, "DEBIAN_FRONTEND": "noninteractive"}).returncode != 0:
            sys.exit(f"reduce_blocks.py: needs {' '.join(missing)}, which apt-get could not install")


def blocks_of(picture):
    height, width, _ = picture.shape
    return [(top, left) for top in range(0, height, SIDE) for left in range(0, width, SIDE)]


def per_block(picture, folder, command, output_of):
    """Writes every block as a PNG, runs `command` over all of them, reassembles the results."""
    from PIL import Image
    import numpy
    names = []
    for n, (top, left) in enumerate(blocks_of(picture)):
        names.append(os.path.join(folder, f"b{n}.png"))
        Image.fromarray(picture[top:top + SIDE, left:left + SIDE]).save(names[-1])
    subprocess.run(command + names, check=True, capture_output=True)
    result = numpy.empty_like(picture)
    for name, (top, left) in zip(names, blocks_of(picture)):
        reduced = Image.open(output_of(name)).convert("RGB")
        result[top:top + SIDE, left:left + SIDE] = numpy.asarray(reduced)
    return result


def psnr(a, b):
    import numpy
    mean = numpy.mean((a.astype(numpy.float64) - b.astype(numpy.float64)) ** 2)
    return 10 * numpy.log10(255.0 ** 2 / mean) if mean > 0 else float("inf")


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: reduce_blocks.py <path of the reduce_blocks driver>")
    driver = os.path.abspath(sys.argv[1])
    if not os.access(driver, os.X_OK):
        sys.exit(f"reduce_blocks.py: no {driver}: cmake -B build -DQUORVEX_BENCH=ON && cmake --build build --target reduce_blocks")
    install_missing()
    import numpy
    import skimage
    from PIL import Image
    data = os.path.join(os.path.dirname(skimage.__file__), "data")
    methods = {
        "pngquant": (["pngquant", "--nofs", "--speed", "1", "--force", "--ext", "-q.png", "256"],
                     lambda name: name.replace(".png", "-q.png")),
        "ImageMagick": (["/usr/bin/mogrify", "-dither", "None", "-colors", "256", "-path"],
                        lambda name: os.path.join(os.path.dirname(name), "im", os.path.basename(name))),
    }
    print(f"{'picture':24} {'blocks':>6} {'pngquant':>9} {'IM':>7} {'ours':>7} {'Mpx/s':>6}")
    errors = {m: [] for m in [*methods, "ours"]}
    for photo in PHOTOS:
        picture = numpy.asarray(Image.open(os.path.join(data, photo)).convert("RGB"))
        picture = picture[:picture.shape[0] // SIDE * SIDE, :picture.shape[1] // SIDE * SIDE].copy()
        row = {}
        with tempfile.TemporaryDirectory() as folder:
            os.mkdir(os.path.join(folder, "im"))
            for method, (command, output_of) in methods.items():
                extra = [os.path.join(folder, "im")] if method == "ImageMagick" else []
                row[method] = per_block(picture, folder, command + extra, output_of)
            source = os.path.join(folder, "picture.ppm")
            Image.fromarray(picture).save(source)
            output = subprocess.run([driver, source, os.path.join(folder, "ours.ppm"), "5"],
                                    check=True, capture_output=True, text=True).stdout
            row["ours"] = numpy.asarray(Image.open(os.path.join(folder, "ours.ppm")).convert("RGB"))
        for method, reduced in row.items():
            errors[method].append((numpy.sum((picture.astype(numpy.float64) - reduced) ** 2), picture.size))
        speed = output.split(", ")[1].split()[0]
        print(f"{photo:24} {len(blocks_of(picture)):>6} " + " ".join(
            f"{psnr(picture, row[m]):>{w}.2f}" for m, w in [("pngquant", 9), ("ImageMagick", 7), ("ours", 7)])
            + f" {speed:>6}")
    overall = {m: 10 * numpy.log10(255.0 ** 2 * sum(n for _, n in e) / sum(s for s, _ in e))
               for m, e in errors.items()}
    print(f"{'all pictures':24} {'':>6} {overall['pngquant']:>9.2f} {overall['ImageMagick']:>7.2f}"
          f" {overall['ours']:>7.2f}")


main()
