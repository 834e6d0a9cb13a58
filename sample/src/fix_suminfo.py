#!/usr/bin/python3
"""Pin the time stamps of an installer database so rebuilds are byte-identical.

wixl stamps the summary information with the build time. This rewrites, in
place, the creation / last-saved / last-printed FILETIMEs of the root summary
information stream and clears the time fields of every directory entry of the
compound file. The file layout is left alone (same length, same sectors).

usage: fix_suminfo.py PACKAGE UNIX_SECONDS
"""
import struct
import sys

ENDOFCHAIN = 0xFFFFFFFE
FREESECT = 0xFFFFFFFF
VT_FILETIME = 64
PIDS_TO_PIN = (11, 12, 13)  # last printed, created, last saved


def chain(table, start):
    out = []
    seen = set()
    s = start
    while s not in (ENDOFCHAIN, FREESECT):
        if s in seen or s >= len(table):
            raise ValueError("broken sector chain")
        seen.add(s)
        out.append(s)
        s = table[s]
    return out


def main():
    path, seconds = sys.argv[1], int(sys.argv[2])
    with open(path, "rb") as f:
        data = bytearray(f.read())
    if data[:8] != b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1":
        sys.exit(f"{path}: not a compound file")
    ssz = 1 << struct.unpack_from("<H", data, 0x1E)[0]
    msz = 1 << struct.unpack_from("<H", data, 0x20)[0]
    first_dir, = struct.unpack_from("<I", data, 0x30)
    cutoff, first_minifat = struct.unpack_from("<II", data, 0x38)
    first_difat, n_difat = struct.unpack_from("<II", data, 0x44)

    def sector(n):
        return (n + 1) * ssz

    def u32s(n):
        return list(struct.unpack_from(f"<{ssz // 4}I", data, sector(n)))

    difat = list(struct.unpack_from("<109I", data, 0x4C))
    d = first_difat
    for _ in range(n_difat):
        entries = u32s(d)
        difat += entries[:-1]
        d = entries[-1]
    fat = []
    for s in difat:
        if s != FREESECT:
            fat += u32s(s)

    dir_offsets = []
    for s in chain(fat, first_dir):
        dir_offsets += [sector(s) + i * 128 for i in range(ssz // 128)]

    def entry(i):
        o = dir_offsets[i]
        nlen, = struct.unpack_from("<H", data, o + 64)
        name = data[o:o + max(nlen - 2, 0)].decode("utf-16-le")
        etype = data[o + 66]
        left, right, child = struct.unpack_from("<III", data, o + 68)
        start, size = struct.unpack_from("<IQ", data, o + 116)
        if ssz == 512:
            size &= 0xFFFFFFFF
        return o, name, etype, left, right, child, start, size

    # Directory time stamps carry no meaning for an installer.
    for o in dir_offsets:
        if data[o + 66] != 0:
            data[o + 100:o + 116] = bytes(16)

    root = entry(0)
    mini_sectors = chain(fat, root[6])
    minifat = []
    for s in chain(fat, first_minifat):
        minifat += u32s(s)

    # Only the package's own summary stream: walk the root's children.
    target = None
    stack = [root[5]]
    while stack:
        i = stack.pop()
        if i == FREESECT:
            continue
        e = entry(i)
        if e[1] == "\x05SummaryInformation":
            target = e
            break
        stack += [e[3], e[4]]
    if target is None:
        sys.exit(f"{path}: no summary information stream")
    _, _, _, _, _, _, start, size = target

    # File offset of every byte of the stream.
    offsets = []
    if size < cutoff:
        per = ssz // msz
        for m in chain(minifat, start):
            base = sector(mini_sectors[m // per]) + (m % per) * msz
            offsets += range(base, base + msz)
    else:
        for s in chain(fat, start):
            offsets += range(sector(s), sector(s) + ssz)
    offsets = offsets[:size]
    stream = bytearray(data[o] for o in offsets)

    section, = struct.unpack_from("<I", stream, 44)
    count, = struct.unpack_from("<I", stream, section + 4)
    filetime = (seconds + 11644473600) * 10_000_000
    for k in range(count):
        pid, off = struct.unpack_from("<II", stream, section + 8 + 8 * k)
        vt, = struct.unpack_from("<I", stream, section + off)
        if pid in PIDS_TO_PIN and (vt & 0xFFFF) == VT_FILETIME:
            struct.pack_into("<Q", stream, section + off + 4, filetime)
    for o, b in zip(offsets, stream):
        data[o] = b
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
