#!/usr/bin/env python3
"""picture.py WIDTH HEIGHT OUT: a raw 32-bit BGRX test picture (lines top-down) that has smooth
gradients, hard edges of blocks and bars, single-pixel lines and noise, so that both the
weights and where they fall show in a scaled copy. The fourth byte is 0."""
import random
import sys

width, height, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
rng = random.Random(width * 7919 + height)
pixels = bytearray(width * height * 4)
for y in range(height):
    for x in range(width):
        i = (y * width + x) * 4
        if (x * 8 // width + y * 6 // height) % 3 == 0:  # gradients
            b, g, r = x * 255 // max(width - 1, 1), y * 255 // max(height - 1, 1), (x + y) * 255 // max(width + height - 2, 1)
        elif (x * 8 // width + y * 6 // height) % 3 == 1:  # noise
            b, g, r = rng.randrange(256), rng.randrange(256), rng.randrange(256)
        else:  # bars and lines
            b = 255 if (x // 3) % 2 else 0
            g = 255 if y % 5 == 0 else 40
            r = 200 if (x + y) % 7 < 3 else 10
        pixels[i:i + 4] = bytes((b, g, r, 0))
open(out, "wb").write(pixels)
