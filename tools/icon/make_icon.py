#!/usr/bin/env python3
"""Draws the tester's icon (app/coupler-tester.ico): a serial connector with
two signal traces, the green SDA and the yellow SCL, on a blue-grey tile.
Run it again after changing the drawing; the .ico is committed."""
import struct
import sys

BACK = (72, 84, 120)       # tile
EDGE = (40, 46, 70)
PLUG = (200, 204, 214)     # connector shell
PIN = (40, 40, 40)
SDA = (0, 220, 0)
SCL = (255, 255, 128)


def draw(size):
    s = size / 32.0
    px = [[None] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y0 * s) + 1, int(y1 * s))):
            for x in range(int(x0 * s), max(int(x0 * s) + 1, int(x1 * s))):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = colour

    rect(1, 1, 31, 31, EDGE)
    rect(2, 2, 30, 30, BACK)
    # connector shell, trapezoid-ish: two stacked bars
    rect(5, 6, 27, 12, PLUG)
    rect(7, 12, 25, 16, PLUG)
    for i in range(5):
        rect(7 + i * 4, 8, 9 + i * 4, 10, PIN)
    for i in range(4):
        rect(9 + i * 4, 13, 11 + i * 4, 15, PIN)
    # SDA: a square wave; SCL: a clock below it
    for x0, x1, high in ((4, 9, 0), (9, 16, 1), (16, 22, 0), (22, 28, 1)):
        rect(x0, 19 if high else 22, x1, 20 if high else 23, SDA)
    for x in (9, 16, 22):
        rect(x, 19, x + 1, 23, SDA)
    for i in range(6):
        x0 = 4 + i * 4
        high = i % 2
        rect(x0, 25 if high else 28, x0 + 4, 26 if high else 29, SCL)
        if i:
            rect(x0, 25, x0 + 1, 29, SCL)
    return px


def image(size):
    px = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b''
    for y in range(size - 1, -1, -1):
        for x in range(size):
            c = px[y][x]
            rows += bytes((0, 0, 0, 0)) if c is None else bytes((c[2], c[1], c[0], 255))
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)
    return header + rows + mask


def main(path):
    images = [image(32), image(16)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'app/coupler-tester.ico')
