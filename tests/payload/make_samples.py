#!/usr/bin/env python3
"""Writes the test-only resource files: make_samples.py OUTDIR NAME:SIZE[:PREFIX] ...

Each file holds SIZE bytes, PREFIX first (e.g. MSCF for a cabinet), then bytes drawn from a
generator seeded by the file name, so every file differs from every other at every offset
and a byte written to the wrong place or from the wrong resource shows up."""
import os
import random
import sys


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for entry in sys.argv[2:]:
        parts = entry.split(":")
        name, size = parts[0], int(parts[1])
        prefix = parts[2].encode("ascii") if len(parts) > 2 else b""
        data = (prefix + random.Random(name).randbytes(size))[:size]
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
