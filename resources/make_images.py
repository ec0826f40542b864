#!/usr/bin/env python3
"""Draws the program's icons and About banner and writes them beside this file:
program.ico (105), not-connected.ico (109), connected.ico (110), banner.bmp (111).

Standard library only. The outputs are committed, so the build never runs this;
run it again after changing a drawing:  python3 resources/make_images.py
"""

import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


class Canvas:
    """RGBA pixels with straight alpha; shapes are drawn with one-pixel anti-aliased edges."""

    def __init__(self, width, height, ground=(0, 0, 0, 0)):
        self.width = width
        self.height = height
        self.pixels = [list(ground) for _ in range(width * height)]

    def blend(self, x, y, colour, coverage):
        if coverage <= 0.0:
            return
        r, g, b, a = colour
        a = a / 255.0 * min(coverage, 1.0)
        p = self.pixels[y * self.width + x]
        pa = p[3] / 255.0
        out_a = a + pa * (1.0 - a)
        if out_a <= 0.0:
            return
        for i, c in enumerate((r, g, b)):
            p[i] = (c * a + p[i] * pa * (1.0 - a)) / out_a
        p[3] = out_a * 255.0

    def fill(self, distance, colour, box=None):
        """distance(x, y) is the signed distance in pixels to the shape's edge (negative inside)."""
        x0, y0, x1, y1 = box if box else (0, 0, self.width, self.height)
        for y in range(max(0, int(y0)), min(self.height, int(math.ceil(y1)) + 1)):
            for x in range(max(0, int(x0)), min(self.width, int(math.ceil(x1)) + 1)):
                self.blend(x, y, colour, 0.5 - distance(x + 0.5, y + 0.5))

    def bytes_bgra_bottom_up(self):
        rows = []
        for y in reversed(range(self.height)):
            row = bytearray()
            for x in range(self.width):
                r, g, b, a = (int(round(max(0.0, min(255.0, v)))) for v in self.pixels[y * self.width + x])
                row += bytes((b, g, r, a))
            rows.append(bytes(row))
        return rows


# --- shapes as signed distance functions, in pixels

def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def circle(cx, cy, radius):
    return lambda x, y: math.hypot(x - cx, y - cy) - radius


def ring(cx, cy, radius, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - radius) - width / 2.0


def strokes(polylines, width):
    segments = [(a, b) for line in polylines for a, b in zip(line, line[1:])]

    def distance(x, y):
        return min(segment_distance(x, y, a[0], a[1], b[0], b[1]) for a, b in segments) - width / 2.0

    return distance


def polygon(points):
    edges = list(zip(points, points[1:] + points[:1]))

    def distance(x, y):
        d = min(segment_distance(x, y, a[0], a[1], b[0], b[1]) for a, b in edges)
        inside = False
        for (ax, ay), (bx, by) in edges:
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                inside = not inside
        return -d if inside else d

    return distance


def rounded_square(x0, y0, size, radius):
    def distance(x, y):
        cx = min(max(x, x0 + radius), x0 + size - radius)
        cy = min(max(y, y0 + radius), y0 + size - radius)
        inside = x0 <= x <= x0 + size and y0 <= y <= y0 + size
        d = math.hypot(x - cx, y - cy) - radius
        return d if not inside or d > 0 else max(d, -min(x - x0, x0 + size - x, y - y0, y0 + size - y))

    return distance


def transform(points, scale, angle, ox, oy):
    c, s = math.cos(angle), math.sin(angle)
    return [(ox + scale * (x * c - y * s), oy + scale * (x * s + y * c)) for x, y in points]


# --- the rocket, pointing up in a unit box centred on 0, 0

ROCKET_BODY = [(0.0, -0.50), (0.10, -0.33), (0.12, -0.22), (0.12, 0.26), (-0.12, 0.26), (-0.12, -0.22),
               (-0.10, -0.33)]
ROCKET_FIN_LEFT = [(-0.12, 0.06), (-0.27, 0.24), (-0.27, 0.36), (-0.12, 0.26)]
ROCKET_FIN_RIGHT = [(x * -1, y) for x, y in ROCKET_FIN_LEFT]
ROCKET_FLAME = [(-0.08, 0.28), (0.08, 0.28), (0.0, 0.50)]
ROCKET_WINDOW = (0.0, -0.12, 0.05)

WHITE = (255, 255, 255, 255)
FLAME = (255, 150, 30, 255)
WINDOW_BLUE = (60, 130, 215, 255)


def draw_rocket(canvas, scale, angle, ox, oy, body=WHITE):
    for shape, colour in ((ROCKET_FLAME, FLAME), (ROCKET_FIN_LEFT, (225, 60, 45, 255)),
                          (ROCKET_FIN_RIGHT, (225, 60, 45, 255)), (ROCKET_BODY, body)):
        pts = transform(shape, scale, angle, ox, oy)
        xs, ys = [p[0] for p in pts], [p[1] for p in pts]
        canvas.fill(polygon(pts), colour, (min(xs) - 2, min(ys) - 2, max(xs) + 2, max(ys) + 2))
    wx, wy = transform([ROCKET_WINDOW[:2]], scale, angle, ox, oy)[0]
    r = ROCKET_WINDOW[2] * scale
    canvas.fill(circle(wx, wy, r), WINDOW_BLUE, (wx - r - 2, wy - r - 2, wx + r + 2, wy + r + 2))


def program_icon(size):
    canvas = Canvas(size, size)
    inset = size / 16.0
    canvas.fill(rounded_square(inset, inset, size - 2 * inset, size / 5.0), (30, 80, 160, 255))
    draw_rocket(canvas, size * 0.95, math.radians(45), size / 2.0, size / 2.0)
    return canvas


def status_icon(size, connected):
    canvas = Canvas(size, size)
    c = size / 2.0
    radius = size * 0.44
    ground = (40, 165, 70, 255) if connected else (150, 155, 165, 255)
    edge = (20, 110, 45, 255) if connected else (95, 100, 110, 255)
    canvas.fill(circle(c, c, radius), ground)
    canvas.fill(ring(c, c, radius - size * 0.02, size * 0.05), edge)
    width = size * 0.11
    if connected:
        tick = [[(size * 0.28, size * 0.52), (size * 0.44, size * 0.67), (size * 0.72, size * 0.35)]]
        canvas.fill(strokes(tick, width), WHITE)
    else:
        a, b = size * 0.33, size * 0.67
        canvas.fill(strokes([[(a, a), (b, b)], [(a, b), (b, a)]], width), (200, 40, 40, 255))
    return canvas


def write_ico(path, canvases):
    images = []
    for canvas in canvases:
        rows = canvas.bytes_bgra_bottom_up()
        xor = b"".join(rows)
        mask_stride = ((canvas.width + 31) // 32) * 4
        mask = bytearray()
        for y in reversed(range(canvas.height)):
            row = bytearray(mask_stride)
            for x in range(canvas.width):
                if canvas.pixels[y * canvas.width + x][3] < 1.0:
                    row[x // 8] |= 0x80 >> (x % 8)
            mask += row
        header = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height * 2, 1, 32, 0,
                             len(xor) + len(mask), 0, 0, 0, 0)
        images.append((canvas.width, canvas.height, header + xor + bytes(mask)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, height, data in images:
        out += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, _, data in images)
    with open(path, "wb") as f:
        f.write(out)


def write_bmp(path, canvas):
    stride = (canvas.width * 3 + 3) & ~3
    pixels = bytearray()
    for row in canvas.bytes_bgra_bottom_up():
        line = bytearray()
        for i in range(0, len(row), 4):
            line += row[i:i + 3]
        line += bytes(stride - len(line))
        pixels += line
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + pixels)


# --- the banner's letters: strokes in a box 0.6 wide and 1 high (y down)

def arc(cx, cy, rx, ry, start, end, steps=14):
    return [(cx + rx * math.cos(math.radians(start + (end - start) * i / steps)),
             cy - ry * math.sin(math.radians(start + (end - start) * i / steps))) for i in range(steps + 1)]


GLYPHS = {
    "U": ([[(0.0, 0.0), (0.0, 0.68)] + arc(0.3, 0.68, 0.3, 0.32, 180, 360) + [(0.6, 0.0)]], 0.6),
    "L": ([[(0.0, 0.0), (0.0, 1.0), (0.52, 1.0)]], 0.52),
    "K": ([[(0.0, 0.0), (0.0, 1.0)], [(0.58, 0.0), (0.0, 0.58)], [(0.2, 0.4), (0.6, 1.0)]], 0.6),
    "S": ([arc(0.3, 0.26, 0.28, 0.24, 30, 270) + arc(0.3, 0.75, 0.3, 0.25, 90, -150)], 0.6),
    "B": ([[(0.0, 0.0), (0.0, 1.0)],
           [(0.0, 0.0), (0.3, 0.0)] + arc(0.3, 0.24, 0.24, 0.24, 90, -90) + [(0.0, 0.48)],
           [(0.0, 0.48), (0.33, 0.48)] + arc(0.33, 0.74, 0.26, 0.26, 90, -90) + [(0.0, 1.0)]], 0.6),
    " ": ([], 0.25),
}


def text_strokes(text, x, y, height, spacing=0.3):
    lines = []
    for ch in text:
        glyph, width = GLYPHS[ch]
        lines += [[(x + px * height, y + py * height) for px, py in line] for line in glyph]
        x += (width + spacing) * height
    return lines, x - spacing * height


def banner():
    width, height = 386, 109
    canvas = Canvas(width, height, (196, 223, 255, 255))
    # A paler band across the middle, so the ground is not flat.
    for y in range(height):
        t = 1.0 - abs(y - height * 0.45) / (height * 0.55)
        for x in range(width):
            canvas.blend(x, y, (235, 245, 255, 255), max(0.0, t) * 0.45)
    # The logo: the program icon's rocket climbing on its trail.
    canvas.fill(circle(62, 54, 40), (30, 80, 160, 255), (20, 12, 104, 96))
    canvas.fill(ring(62, 54, 36, 2.0), (120, 170, 235, 255), (20, 12, 104, 96))
    draw_rocket(canvas, 78, math.radians(40), 63, 54)
    # The product name.
    letter_height = 44
    lines, right = text_strokes("ULK USB", 0, 0, letter_height)
    left = 126 + (width - 126 - 16 - right) / 2.0
    top = (height - letter_height) / 2.0 - 6
    lines = [[(left + px, top + py) for px, py in line] for line in lines]
    stroke = letter_height * 0.16
    canvas.fill(strokes(lines, stroke), (20, 55, 120, 255), (left - 8, top - 8, left + right + 8, top + letter_height + 8))
    # An underline in the dialogs' tan.
    y = top + letter_height + 14
    canvas.fill(strokes([[(left, y), (left + right, y)]], 2.5), (210, 180, 140, 255), (left - 4, y - 4, left + right + 4, y + 4))
    return canvas


def main():
    sizes = (16, 32, 48)
    write_ico(os.path.join(HERE, "program.ico"), [program_icon(s) for s in sizes])
    write_ico(os.path.join(HERE, "not-connected.ico"), [status_icon(s, False) for s in sizes])
    write_ico(os.path.join(HERE, "connected.ico"), [status_icon(s, True) for s in sizes])
    write_bmp(os.path.join(HERE, "banner.bmp"), banner())


if __name__ == "__main__":
    main()
