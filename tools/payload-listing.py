#!/usr/bin/python3
"""Writes the state of a payload folder's files (name, size, inode, modification and change
times) to a file, rewritten only when the state differs from what it holds.

    payload-listing.py FOLDER OUTPUT

The build runs it at every build and makes the payload contract check and the payload
resources depend on OUTPUT, so that a file added, removed, replaced or changed in the folder
is checked and embedded again, whatever the file's own time stamps say (a copy that keeps an
older time still gets a new change time, which no program can set back).
"""
import os
import sys


def main():
    if len(sys.argv) != 3:
        print(__doc__.split("\n\n")[1].strip(), file=sys.stderr)
        return 2
    folder, output = sys.argv[1], sys.argv[2]
    lines = []
    if os.path.isdir(folder):
        for name in sorted(os.listdir(folder)):
            state = os.stat(os.path.join(folder, name))
            lines.append("%s %d %d %d %d\n" % (name, state.st_size, state.st_ino,
                                               state.st_mtime_ns, state.st_ctime_ns))
    else:
        lines.append("(no folder)\n")
    text = "# %s\n" % folder + "".join(lines)
    try:
        with open(output, encoding="utf-8") as f:
            if f.read() == text:
                return 0
    except FileNotFoundError:
        pass
    with open(output + ".new", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(output + ".new", output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
