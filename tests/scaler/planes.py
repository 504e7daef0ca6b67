#!/usr/bin/env python3
"""planes.py to|from IN OUT WIDTH HEIGHT: repacks a raw picture between 32-bit BGRX lines and
ffmpeg's planar gbrp (a G plane, then B, then R), losslessly, so that ffmpeg's scaler reads and
writes the colour channels as they are, with no conversion of its own."""
import sys

direction, source, target = sys.argv[1], sys.argv[2], sys.argv[3]
width, height = int(sys.argv[4]), int(sys.argv[5])
count = width * height
data = open(source, "rb").read()
if direction == "to":
    out = data[1::4][:count] + data[0::4][:count] + data[2::4][:count]
else:
    out = bytearray(count * 4)
    out[1::4], out[0::4], out[2::4] = data[:count], data[count:2 * count], data[2 * count:3 * count]
open(target, "wb").write(bytes(out))
