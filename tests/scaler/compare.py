#!/usr/bin/env python3
"""compare.py A B WIDTH HEIGHT: the largest difference of one colour channel between two raw
32-bit BGRX pictures of the same size (the fourth byte ignored), then the mean difference, and
where the largest is."""
import sys

a = open(sys.argv[1], "rb").read()
b = open(sys.argv[2], "rb").read()
width, height = int(sys.argv[3]), int(sys.argv[4])
if len(a) != width * height * 4 or len(b) != len(a):
    print(f"sizes differ: {len(a)} and {len(b)} bytes for {width}x{height}")
    sys.exit(1)
largest, where, total = 0, (0, 0), 0
for i in range(0, len(a), 4):
    for c in range(3):
        d = abs(a[i + c] - b[i + c])
        total += d
        if d > largest:
            largest, where = d, ((i // 4) % width, (i // 4) // width)
print(largest, f"{total / (width * height * 3):.3f}", f"{where[0]},{where[1]}")
