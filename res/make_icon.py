#!/usr/bin/python3
"""Draws the application icon and writes it as a .ico file.

    make_icon.py OUT.ico

The picture is a parcel with a green arrow pointing down into it. It is drawn here from
polygons, so the build needs no image files and no imaging library (plain python3 stdlib).
The file holds twelve images, in this order, which the resource compiler numbers 1 to 12:
48, 32, 24 and 16 pixels at 4 bits, then at 8 bits, then at 32 bits (alpha). Every image
has its AND mask. The output is the same bytes on every run.
"""
import struct
import sys

IMAGE_ORDER = [(48, 4), (32, 4), (24, 4), (16, 4),
               (48, 8), (32, 8), (24, 8), (16, 8),
               (48, 32), (32, 32), (24, 32), (16, 32)]

# Named colours of the drawing (red, green, blue).
OUTLINE = (58, 36, 18)
BOX_TOP = (236, 196, 128)
BOX_FRONT = (206, 154, 86)
BOX_SIDE = (160, 110, 52)
TAPE = (250, 232, 186)
TAPE_SHADE = (214, 186, 132)
ARROW = (64, 178, 72)
ARROW_LIGHT = (132, 222, 120)
ARROW_OUTLINE = (18, 84, 30)
SHADOW = (96, 96, 96)

# Shapes in painting order: (colour, outline colour or None, points in 0..1 coordinates,
# y downwards). The box is seen from the front-right and above.
SHAPES = [
    # Soft ground shadow, to the right of the box.
    (SHADOW, None, [(0.22, 0.97), (0.70, 0.97), (0.97, 0.80), (0.97, 0.90), (0.72, 1.00),
                    (0.22, 1.00)]),
    # Top face, front face, right face.
    (BOX_TOP, OUTLINE, [(0.08, 0.52), (0.64, 0.52), (0.92, 0.36), (0.36, 0.36)]),
    (BOX_FRONT, OUTLINE, [(0.08, 0.52), (0.64, 0.52), (0.64, 0.95), (0.08, 0.95)]),
    (BOX_SIDE, OUTLINE, [(0.64, 0.52), (0.92, 0.36), (0.92, 0.79), (0.64, 0.95)]),
    # Tape across the top face and down the front.
    (TAPE, None, [(0.27, 0.52), (0.45, 0.52), (0.73, 0.36), (0.55, 0.36)]),
    (TAPE_SHADE, None, [(0.27, 0.53), (0.45, 0.53), (0.45, 0.75), (0.27, 0.75)]),
    # The arrow: shaft and head, then a light stripe on the shaft.
    (ARROW, ARROW_OUTLINE, [(0.40, 0.02), (0.62, 0.02), (0.62, 0.26), (0.80, 0.26),
                            (0.51, 0.55), (0.22, 0.26), (0.40, 0.26)]),
    (ARROW_LIGHT, None, [(0.44, 0.07), (0.50, 0.07), (0.50, 0.30), (0.44, 0.30)]),
]

# The 4-bit images use the drawing's own sixteen colours; entry 0 is black, which is what a
# transparent pixel holds under its AND mask bit.
PALETTE_16 = [(0, 0, 0), OUTLINE, BOX_TOP, BOX_FRONT, BOX_SIDE, TAPE, TAPE_SHADE, ARROW,
              ARROW_LIGHT, ARROW_OUTLINE, SHADOW, (255, 255, 255), (128, 128, 128),
              (192, 192, 192), (110, 72, 36), (40, 130, 50)]


DRAWING_COLOURS = [OUTLINE, BOX_TOP, BOX_FRONT, BOX_SIDE, TAPE, TAPE_SHADE, ARROW, ARROW_LIGHT,
                   ARROW_OUTLINE, SHADOW]


def palette_256():
    """The sixteen colours, the blends of every two drawing colours at a quarter, half and
    three quarters (the edges of the smoothed images), a 4x4x4 colour cube and greys."""
    colours = list(PALETTE_16)
    for i, first in enumerate(DRAWING_COLOURS):
        for second in DRAWING_COLOURS[i + 1:]:
            for share in (1, 2, 3):
                colours.append(tuple((first[c] * (4 - share) + second[c] * share + 2) // 4
                                     for c in range(3)))
    levels = [0, 85, 170, 255]
    colours += [(r, g, b) for r in levels for g in levels for b in levels]
    grey_count = 256 - len(colours)
    colours += [((i + 1) * 255 // (grey_count + 1),) * 3 for i in range(grey_count)]
    assert len(colours) == 256
    return colours


def inside(points, x, y):
    """Even-odd test of a point against a polygon."""
    result = False
    count = len(points)
    for i in range(count):
        x1, y1 = points[i]
        x2, y2 = points[(i + 1) % count]
        if (y1 > y) != (y2 > y):
            cross = x1 + (y - y1) * (x2 - x1) / (y2 - y1)
            if x < cross:
                result = not result
    return result


def near_edge(points, x, y, reach):
    """True when the point lies within `reach` of one of the polygon's edges."""
    count = len(points)
    for i in range(count):
        x1, y1 = points[i]
        x2, y2 = points[(i + 1) % count]
        dx, dy = x2 - x1, y2 - y1
        length2 = dx * dx + dy * dy
        t = ((x - x1) * dx + (y - y1) * dy) / length2
        t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
        ex, ey = x1 + t * dx - x, y1 + t * dy - y
        if ex * ex + ey * ey <= reach * reach:
            return True
    return False


def sample(x, y, reach, shadow):
    """The colour of the drawing at one point, or None where nothing is drawn."""
    colour = None
    for fill, outline, points in SHAPES:
        if fill == SHADOW and not shadow:
            continue
        if outline is not None and near_edge(points, x, y, reach):
            colour = outline
        elif inside(points, x, y):
            colour = fill
    return colour


def render(size):
    """Samples every pixel on a 4x4 grid; returns rows of per-pixel sample lists, top first."""
    grid = 4
    # Outlines stay about one pixel wide at every size, a little wider at 48; the small
    # images leave out the shadow, which there only blurs the box's edge.
    reach = (0.45 if size < 20 else 0.55 if size < 40 else 0.75) / size
    shadow = size >= 32
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            samples = []
            for sy in range(grid):
                for sx in range(grid):
                    x = (px + (sx + 0.5) / grid) / size
                    y = (py + (sy + 0.5) / grid) / size
                    samples.append(sample(x, y, reach, shadow))
            row.append(samples)
        rows.append(row)
    return rows


def nearest(palette, colour):
    best, best_distance = 0, None
    for index, (r, g, b) in enumerate(palette):
        distance = (r - colour[0]) ** 2 + (g - colour[1]) ** 2 + (b - colour[2]) ** 2
        if best_distance is None or distance < best_distance:
            best, best_distance = index, distance
    return best


def average(samples):
    """Mean colour of the drawn samples and their share (0..255) of the pixel."""
    drawn = [s for s in samples if s is not None]
    if not drawn:
        return (0, 0, 0), 0
    n = len(drawn)
    colour = tuple((sum(s[c] for s in drawn) + n // 2) // n for c in range(3))
    return colour, (255 * n + len(samples) // 2) // len(samples)


def dominant(samples):
    """The most frequent sample of a pixel (None: transparent); ties go to the first seen."""
    counts = {}
    order = []
    for s in samples:
        if s not in counts:
            counts[s] = 0
            order.append(s)
        counts[s] += 1
    return max(order, key=lambda s: (counts[s], -order.index(s)))


def row_stride(bits, width):
    return (bits * width + 31) // 32 * 4


def pack_indices(indices, bits):
    """Packs palette indices (or mask bits) of one row, first pixel in the high bits."""
    per_byte = 8 // bits
    out = bytearray()
    for start in range(0, len(indices), per_byte):
        value = 0
        chunk = indices[start:start + per_byte]
        for i, index in enumerate(chunk):
            value |= index << (8 - bits * (i + 1))
        out.append(value)
    return bytes(out)


def pad(row, stride):
    return row + b"\0" * (stride - len(row))


def bitmap(size, bits, rows):
    """One icon image: BITMAPINFOHEADER, palette, colour (XOR) rows, AND mask rows."""
    colour_rows = []
    mask_rows = []
    if bits == 32:
        for row in rows:
            data = bytearray()
            mask = []
            for samples in row:
                (r, g, b), alpha = average(samples)
                data += bytes((b, g, r, alpha)) if alpha else b"\0\0\0\0"
                mask.append(1 if alpha == 0 else 0)
            colour_rows.append(bytes(data))
            mask_rows.append(pack_indices(mask, 1))
        palette = []
    else:
        palette = PALETTE_16 if bits == 4 else palette_256()
        for row in rows:
            indices = []
            mask = []
            for samples in row:
                if bits == 4:
                    # Few colours: each pixel takes the colour that covers most of it.
                    chosen = dominant(samples)
                    opaque = chosen is not None
                    colour = chosen
                else:
                    colour, alpha = average(samples)
                    opaque = alpha >= 128
                indices.append(nearest(palette, colour) if opaque else 0)
                mask.append(0 if opaque else 1)
            colour_rows.append(pack_indices(indices, bits))
            mask_rows.append(pack_indices(mask, 1))
    colour_stride = row_stride(bits, size)
    mask_stride = row_stride(1, size)
    # Bitmaps are stored bottom row first.
    pixels = b"".join(pad(r, colour_stride) for r in reversed(colour_rows))
    masks = b"".join(pad(r, mask_stride) for r in reversed(mask_rows))
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0,
                         len(pixels) + len(masks), 0, 0, len(palette), 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + table + pixels + masks


def icon_file():
    renders = {}
    images = []
    for size, bits in IMAGE_ORDER:
        if size not in renders:
            renders[size] = render(size)
        images.append(bitmap(size, bits, renders[size]))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bits), image in zip(IMAGE_ORDER, images):
        colour_count = 16 if bits == 4 else 0
        directory += struct.pack("<BBBBHHII", size, size, colour_count, 0, 1, bits,
                                 len(image), offset)
        offset += len(image)
    return directory + b"".join(images)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: make_icon.py OUT.ico\n")
        return 2
    with open(sys.argv[1], "wb") as out:
        out.write(icon_file())
    return 0


if __name__ == "__main__":
    sys.exit(main())
