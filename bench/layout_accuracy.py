#!/usr/bin/python3
# How often quorvex-layout's first answer is the true layout, on pictures it has never seen.
#
#   cmake -B build && cmake --build build -j2 --target quorvex-pack quorvex-layout
#   /usr/bin/python3 bench/layout_accuracy.py build [FIRST_WIDTH LAST_WIDTH]
#
# Photographs from Debian's python3-skimage and two painted pictures drawn as
# bench/reduce_speed.py draws its own (flat sky, gradients, outlines, bricks, a little noise)
# are scaled to every width from 3 to 31 blocks (the height keeps the proportions), written as
# PNG and packed into tile data by quorvex-pack. Four groups are made of each from its records:
# plain; darkened to a tenth of the brightness (every palette colour divided by 10); framed in
# a ring of black blocks (two blocks wider and higher); and with 1 to 9 records copied from
# random places appended. A first answer is right when its width is the true width: the height
# then follows from the record count, as quorvex-layout counts it (records appended past a
# whole row make more rows). Tile data of one flat colour and of random bytes must give "cannot
# tell" (status 1). Not run by CTest.
import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from reduce_speed import painted  # noqa: E402

SIDE = 64
RECORD = 5120
PALETTE = 1024
PHOTOS = ["astronaut.png", "coffee.png", "chelsea.png", "rocket.jpg", "motorcycle_left.png", "ihc.png"]
GROUPS = ["plain", "darkened", "framed", "appended"]


def pictures():
    import numpy
    import skimage
    from PIL import Image
    data = os.path.join(os.path.dirname(skimage.__file__), "data")
    for name in PHOTOS:
        yield name.split(".")[0], Image.open(os.path.join(data, name)).convert("RGB")
    yield "painted", Image.fromarray(painted())
    yield "painted-tall", Image.fromarray(numpy.ascontiguousarray(painted(768, 1024)))


def tile_data(picture, width, folder, pack):
    """The picture scaled to `width` blocks, packed by quorvex-pack: (records, height)."""
    from PIL import Image
    height = max(1, round(picture.height * width / picture.width))
    source = os.path.join(folder, "p.png")
    picture.resize((width * SIDE, height * SIDE), Image.LANCZOS).save(source)
    target = os.path.join(folder, "p.tis")
    subprocess.run([pack, source, target], check=True, capture_output=True)
    with open(target, "rb") as f:
        data = f.read()
    return [data[i:i + RECORD] for i in range(0, len(data), RECORD)], height


def darkened(record):
    palette = bytearray(record[:PALETTE])
    for i in range(0, PALETTE, 4):
        for c in range(3):
            palette[i + c] = round(palette[i + c] / 10)
    return bytes(palette) + record[PALETTE:]


def framed(records, width, height):
    black = bytes(RECORD)
    rows = [black * (width + 2)]
    for r in range(height):
        rows.append(black + b"".join(records[r * width:(r + 1) * width]) + black)
    rows.append(black * (width + 2))
    return b"".join(rows), width + 2


def groups(records, width, height, rng):
    yield "plain", b"".join(records), width
    yield "darkened", b"".join(darkened(r) for r in records), width
    yield "framed", *framed(records, width, height)
    copies = [records[rng.randrange(len(records))] for _ in range(rng.randint(1, 9))]
    yield "appended", b"".join(records + copies), width


def answer(layout, path):
    """quorvex-layout's first answer (the width) or None, and whether it offered runners-up."""
    run = subprocess.run([layout, path], capture_output=True, text=True)
    lines = run.stdout.splitlines()
    if run.returncode != 0:
        return None, False, lines[-1] if lines else ""
    width = int(lines[1].split()[1])
    return width, any(line.startswith("Also possible") for line in lines), lines[1]


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: layout_accuracy.py <build folder> [first width] [last width]")
    build = os.path.abspath(sys.argv[1])
    first, last = (int(sys.argv[2]), int(sys.argv[3])) if len(sys.argv) > 3 else (3, 31)
    pack, layout = os.path.join(build, "quorvex-pack"), os.path.join(build, "quorvex-layout")
    rng = random.Random(24)
    tally = {g: [0, 0, 0] for g in GROUPS}  # right, cases, with runners-up
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "t.tis")
        for name, picture in pictures():
            for width in range(first, last + 1):
                records, height = tile_data(picture, width, folder, pack)
                for group, data, true_width in groups(records, width, height, rng):
                    with open(path, "wb") as f:
                        f.write(data)
                    found, also, line = answer(layout, path)
                    tally[group][0] += found == true_width
                    tally[group][1] += 1
                    tally[group][2] += also
                    if found != true_width:
                        print(f"  wrong: {name} {width} x {height} {group}: {line}", file=sys.stderr)
        checks = []
        for what, data in [("one flat colour", (bytes([40, 90, 160, 0]) * 256 + bytes(4096)) * 48),
                           ("random bytes", random.Random(1).randbytes(RECORD * 48))]:
            with open(path, "wb") as f:
                f.write(data)
            found, _, line = answer(layout, path)
            checks.append(f"{what}, 48 records: {'cannot tell' if found is None else line}")
    print(f"| group | right first answers | share | with runners-up |")
    print(f"|---|---|---|---|")
    for group in GROUPS:
        right, cases, also = tally[group]
        print(f"| {group} | {right} of {cases} | {100 * right / cases:.1f} % | {also} |")
    for line in checks:
        print(line)


main()
