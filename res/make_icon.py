#!/usr/bin/env python3
# Placeholder: one 16x16 32-bit image. Replaced by the real drawing.
import struct, sys
w = h = 16
pixels = b"".join(struct.pack("<BBBB", 40, 160, 60, 255) for _ in range(w * h))
mask = b"\0" * (4 * h)
header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
image = header + pixels + mask
data = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", w, h, 0, 0, 1, 32, len(image), 22) + image
open(sys.argv[1], "wb").write(data)
