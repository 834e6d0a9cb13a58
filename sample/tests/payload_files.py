#!/usr/bin/python3
"""List what a sample kit package says it installs, read back with msiinfo.

usage: payload_files.py PACKAGE
prints one line per File row, in sequence order:
    KEY <TAB> CABINET <TAB> SEQUENCE <TAB> SIZE <TAB> PATH-UNDER-INSTALLDIR
Exits non-zero if a file's sequence falls on no medium.
"""
import subprocess
import sys


def table(package, name):
    text = subprocess.run(["msiinfo", "export", package, name], check=True,
                          capture_output=True, text=True).stdout
    rows = [line.rstrip("\r").split("\t") for line in text.splitlines()[3:]]
    return [r for r in rows if r and r[0]]


def long_name(default_dir):
    name = default_dir.split(":")[-1]  # target part of "target:source"
    return name.split("|")[-1]


def main():
    package = sys.argv[1]
    dirs = {r[0]: (r[1], long_name(r[2])) for r in table(package, "Directory")}
    comp_dir = {r[0]: r[2] for r in table(package, "Component")}
    media = sorted((int(r[1]), r[3]) for r in table(package, "Media"))

    def rel(directory):
        parts = []
        while directory != "INSTALLDIR":
            parent, name = dirs[directory]
            if name != ".":
                parts.append(name)
            if not parent:
                raise SystemExit(f"{directory} is not under INSTALLDIR")
            directory = parent
        return "\\".join(reversed(parts))

    files = sorted(table(package, "File"), key=lambda r: int(r[7]))
    for key, comp, file_name, size, _, _, _, seq in files:
        seq = int(seq)
        cab = next((c for last, c in media if seq <= last), None)
        if cab is None:
            raise SystemExit(f"{key}: sequence {seq} is on no medium")
        path = "\\".join(p for p in (rel(comp_dir[comp]), long_name(file_name)) if p)
        print(f"{key}\t{cab}\t{seq}\t{size}\t{path}")


if __name__ == "__main__":
    main()
