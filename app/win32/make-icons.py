#!/usr/bin/env python3
"""Makes the Windows icons of the installer at build time (standard library only).

Usage: make-icons.py OUTDIR

  OUTDIR/kivo-mapi-setup.ico  the program's icon at 16, 24, 32 and 48 pixels,
                              drawn from the shapes of app/kivo-mapi-setup.svg
                              (a window with a title bar and a quartered shield)
  OUTDIR/wastebin.ico         the delete button's image: a white waste bin on a
                              red square, 16 x 16, pixel for pixel the Qt view's

The SVG holds rounded rectangles and one path of lines and cubic curves; they
are drawn here with 4 x 4 samples per pixel, in the SVG's order.
"""
import os
import struct
import sys

WINDOW_FILL = (0xFF, 0xFF, 0xFF)
DARK = (0x2A, 0x35, 0x50)
SHIELD_BLUE = (0x1F, 0x5F, 0xC8)
SHIELD_EDGE = (0x20, 0x2A, 0x40)
GOLD = (0xF2, 0xC2, 0x1B)
BIN_RED = (0xD0, 0x1C, 0x1C)


def cubic(p0, p1, p2, p3, steps=16):
    out = []
    for i in range(1, steps + 1):
        t = i / steps
        u = 1 - t
        out.append((u * u * u * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t * t * t * p3[0],
                    u * u * u * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t * t * t * p3[1]))
    return out


def shield_outline():
    # M32 24 l14 5 v11 c0 8 -6 12 -14 16 c-8 -4 -14 -8 -14 -16 v-11 z
    pts = [(32, 24), (46, 29), (46, 40)]
    pts += cubic((46, 40), (46, 48), (40, 52), (32, 56))
    pts += cubic((32, 56), (24, 52), (18, 48), (18, 40))
    pts += [(18, 29)]
    return pts


def gold_quarters():
    # M32 24 l14 5 v11 h-14 z   and   M18 40 h14 v16 c-8 -4 -14 -8 -14 -16 z
    upper = [(32, 24), (46, 29), (46, 40), (32, 40)]
    lower = [(18, 40), (32, 40), (32, 56)] + cubic((32, 56), (24, 52), (18, 48), (18, 40))
    return [upper, lower]


def inside_polygon(pts, x, y):
    inside = False
    j = len(pts) - 1
    for i in range(len(pts)):
        xi, yi = pts[i]
        xj, yj = pts[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def near_polygon(pts, x, y, half_width):
    for i in range(len(pts)):
        (ax, ay), (bx, by) = pts[i - 1], pts[i]
        dx, dy = bx - ax, by - ay
        length2 = dx * dx + dy * dy
        t = 0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        px, py = ax + t * dx - x, ay + t * dy - y
        if px * px + py * py <= half_width * half_width:
            return True
    return False


def inside_round_rect(x, y, left, top, width, height, r, grow=0.0):
    left, top, width, height, r = left - grow, top - grow, width + 2 * grow, height + 2 * grow, r + grow
    if not (left <= x <= left + width and top <= y <= top + height):
        return False
    cx = min(max(x, left + r), left + width - r)
    cy = min(max(y, top + r), top + height - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def app_icon_colour(x, y):
    """The colour (r, g, b) at a point of the 64 x 64 drawing, or None."""
    colour = None
    # The window: white with a dark 3-pixel outline, and its title bar.
    if inside_round_rect(x, y, 4, 8, 56, 48, 6, grow=1.5):
        colour = DARK
        if inside_round_rect(x, y, 4, 8, 56, 48, 6, grow=-1.5):
            colour = WINDOW_FILL
    if inside_round_rect(x, y, 4, 8, 56, 11, 5):
        colour = DARK
    shield = shield_outline()
    if inside_polygon(shield, x, y):
        colour = SHIELD_BLUE
    if near_polygon(shield, x, y, 1.0):
        colour = SHIELD_EDGE
    for quarter in gold_quarters():
        if inside_polygon(quarter, x, y):
            colour = GOLD
    return colour


def render_app_icon(size):
    """Rows of (r, g, b, a), top row first."""
    samples = 4
    scale = 64.0 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = app_icon_colour((px + (sx + 0.5) / samples) * scale,
                                        (py + (sy + 0.5) / samples) * scale)
                    if c is not None:
                        r, g, b, hits = r + c[0], g + c[1], b + c[2], hits + 1
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((r // hits, g // hits, b // hits, 255 * hits // (samples * samples)))
        rows.append(row)
    return rows


def render_waste_bin():
    white = (0xFF, 0xFF, 0xFF, 0xFF)
    red = BIN_RED + (0xFF,)
    rows = [[red] * 16 for _ in range(16)]

    def fill(x, y, w, h, c):
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                rows[yy][xx] = c
    fill(6, 2, 4, 1, white)   # handle
    fill(3, 3, 10, 2, white)  # lid
    fill(4, 6, 8, 8, white)   # body
    fill(6, 7, 1, 6, red)     # ribs
    fill(9, 7, 1, 6, red)
    return rows


def icon_image(rows):
    """One icon image: BITMAPINFOHEADER, BGRA rows bottom-up, AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def write_ico(path, images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    data = b""
    for rows in images:
        size = len(rows)
        blob = icon_image(rows)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        data += blob
    with open(path, "wb") as f:
        f.write(directory + entries + data)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_ico(os.path.join(out, "kivo-mapi-setup.ico"),
              [render_app_icon(s) for s in (16, 24, 32, 48)])
    write_ico(os.path.join(out, "wastebin.ico"), [render_waste_bin()])


if __name__ == "__main__":
    main()
