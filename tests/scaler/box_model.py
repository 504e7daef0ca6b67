#!/usr/bin/env python3
"""box_model.py SOURCE OUTPUT WIDTH HEIGHT NEW_WIDTH NEW_HEIGHT: scales a raw 32-bit BGRX picture
by the definition, in floating point: on an axis that shrinks, each output pixel is the mean of
the source area it covers (edge pixels by their covered part); on one that grows, the linear
blend of the two source pixels around its centre, (i + 0.5) * source / output - 0.5 (clamped to
the edge pixels). The reference where ffmpeg's scaler cannot be one (more than 255 source
pixels to an output pixel). Slow: for small pictures."""
import math
import sys
def axis(n, m):
    out = []
    for i in range(m):
        if m <= n:
            s, e = i*n/m, (i+1)*n/m
            w = {}
            j = int(math.floor(s))
            while j < e:
                ov = min(j+1, e) - max(j, s)
                if ov > 0: w[j] = ov/(n/m)
                j += 1
        else:
            x = (i+0.5)*n/m - 0.5
            if x <= 0: w = {0:1.0}
            elif x >= n-1: w = {n-1:1.0}
            else:
                j = int(math.floor(x)); f = x-j; w = {j:1-f, j+1:f}
        out.append(w)
    return out
def scale(src, W, H, W2, H2):
    hx, vy = axis(W, W2), axis(H, H2)
    out = bytearray(W2*H2*4)
    for y in range(H2):
        for x in range(W2):
            for c in range(3):
                v = 0.0
                for sy, wy in vy[y].items():
                    for sx, wx in hx[x].items():
                        v += wy*wx*src[(sy*W+sx)*4+c]
                out[(y*W2+x)*4+c] = min(255, int(v+0.5))
    return out
W,H,W2,H2 = map(int, sys.argv[3:7])
open(sys.argv[2],'wb').write(scale(open(sys.argv[1],'rb').read(), W,H,W2,H2))
