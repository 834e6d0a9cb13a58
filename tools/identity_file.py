"""Reads a release identity file: the KEY=value lines of cmake/release-identity.txt or of a
build's kzt-wrapper.identity.txt (comments begin with #). Shared by the tools and the checks
that need the names of a release."""


def read_identity(path):
    """{KEY: value} of the file's KEY=value lines."""
    identity = {}
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            line = line.rstrip("\n")
            if "=" in line and not line.startswith("#"):
                key, value = line.split("=", 1)
                identity[key] = value
    return identity
