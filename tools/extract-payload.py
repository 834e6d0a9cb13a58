#!/usr/bin/python3
"""Reads the payload resources out of a built wrapper executable (signed or not).

    extract-payload.py EXE --manifest       print the payload manifest of what EXE carries
    extract-payload.py EXE --out FOLDER     write each payload resource to FOLDER under the
                                            file name it becomes
    [--identity FILE]                       the release identity the file names follow: the
                                            build's kzt-wrapper.identity.txt; default: the one
                                            beside EXE, else the default identity
                                            (cmake/release-identity.txt)

The manifest lines are those the build writes beside the executable
(kzt-wrapper.payload.txt), so `diff` of the two tells whether an executable carries exactly
the payload its build recorded. Exit code 1 when the file is not a PE image, when a payload
resource is not in language 1033 alone, or when the executable carries a resource of a
payload type that the table below does not know.
Needs python3-pefile (Debian), so run it with /usr/bin/python3.
"""
import argparse
import hashlib
import os
import re
import sys

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from identity_file import read_identity  # noqa: E402

MANIFEST_HEADER = "# kzt-wrapper payload manifest 1: type id file size sha256"
LANG_EN_US = 1033

DEFAULT_IDENTITY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cmake",
                                "release-identity.txt")
IDENTITY_BESIDE = "kzt-wrapper.identity.txt"

# Resource type and identifier, in the order of the resource table: the product package, the
# seven cabinets in the order they are written, au.msi, au.cab.
PAYLOAD_RESOURCES = [
    ("ZELVAN_INSTALLER", 101),
    ("ZELVAN_CAB9", 110), ("ZELVAN_CAB10", 111), ("ZELVAN_CAB7", 108), ("ZELVAN_CAB8", 109),
    ("ZELVAN_CAB11", 112), ("ZELVAN_CAB12", 113), ("ZELVAN_CAB13", 114),
    ("ZELVAN_INSTALLER", 1119),
    ("ZELVAN_INSTALLER", 1120),
]


class PayloadError(Exception):
    pass


def payload_table(identity_path):
    """[(type, id, file name)] of the release identity in a KEY=value file."""
    identity = read_identity(identity_path)
    if "PRODUCT_PACKAGE" in identity and "CABINETS" in identity:
        names = [identity["PRODUCT_PACKAGE"]] + identity["CABINETS"].split()
    else:  # the defaults file holds the version only: the names as the wrapper forms them
        numbers = re.match(r"^(\d+)\.(\d+)\.(\d+)_(\d+)$", identity.get("PRODUCT_VERSION", ""))
        if numbers is None:
            raise PayloadError(f"{identity_path}: no product version")
        names = ["kzt%s.msi" % identity["PRODUCT_VERSION"]] + [
            prefix + "".join(numbers.groups()) + "0.cab"
            for prefix in ("ss", "st", "sj", "sp", "sz", "sb", "sr")]
    names += ["au.msi", "au.cab"]
    if len(names) != len(PAYLOAD_RESOURCES):
        raise PayloadError(f"{identity_path}: {len(names)} payload files, expected "
                           f"{len(PAYLOAD_RESOURCES)}")
    return [resource + (name,) for resource, name in zip(PAYLOAD_RESOURCES, names)]


def named_resources(pe):
    """{(type name, id): [(language, data)]} for every resource whose type is a name."""
    found = {}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return found
    for type_entry in root.entries:
        if type_entry.name is None:
            continue  # standard types (icon, string table, manifest) are not payload
        type_name = str(type_entry.name)
        for id_entry in type_entry.directory.entries:
            if id_entry.name is not None:
                raise PayloadError(f"resource {type_name}/{id_entry.name}: named, not numbered")
            languages = []
            for lang_entry in id_entry.directory.entries:
                entry = lang_entry.data.struct
                data = pe.get_data(entry.OffsetToData, entry.Size)
                if len(data) != entry.Size:
                    raise PayloadError(f"resource {type_name}/{id_entry.id}: {entry.Size} bytes "
                                       f"declared, {len(data)} in the file")
                languages.append((lang_entry.id, data))
            found[(type_name, id_entry.id)] = languages
    return found


def read_payload(path, table):
    """[(type, id, file name, data)] of the payload resources in EXE, in table order."""
    try:
        pe = pefile.PE(path, fast_load=True)
    except (pefile.PEFormatError, OSError) as error:
        raise PayloadError(f"{path}: not a PE image ({error})")
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    found = named_resources(pe)
    known = {(type_name, number) for type_name, number, _ in table}
    unknown = sorted(f"{t}/{n}" for t, n in found if (t, n) not in known)
    if unknown:
        raise PayloadError("resources of a payload type outside the table: " + ", ".join(unknown))
    payload = []
    for type_name, number, file_name in table:
        languages = found.get((type_name, number))
        if languages is None:
            continue  # absent from the payload folder at build time
        if [language for language, _ in languages] != [LANG_EN_US]:
            raise PayloadError(f"resource {type_name}/{number}: languages "
                               f"{[language for language, _ in languages]}, expected [1033]")
        payload.append((type_name, number, file_name, languages[0][1]))
    return payload


def manifest_lines(payload):
    lines = [MANIFEST_HEADER]
    for type_name, number, file_name, data in payload:
        digest = hashlib.sha256(data).hexdigest()
        lines.append(f"{type_name} {number} {file_name} {len(data)} {digest}")
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("executable")
    what = parser.add_mutually_exclusive_group(required=True)
    what.add_argument("--manifest", action="store_true",
                      help="print the manifest lines of the payload the executable carries")
    what.add_argument("--out", metavar="FOLDER",
                      help="write the payload files into FOLDER (created when missing)")
    parser.add_argument("--identity", metavar="FILE",
                        help="release identity of the executable (kzt-wrapper.identity.txt)")
    args = parser.parse_args()
    identity = args.identity
    if identity is None:
        beside = os.path.join(os.path.dirname(os.path.abspath(args.executable)), IDENTITY_BESIDE)
        identity = beside if os.path.isfile(beside) else DEFAULT_IDENTITY
    try:
        table = payload_table(identity)
    except (OSError, PayloadError) as error:
        print(f"extract-payload: cannot read the release identity: {error}", file=sys.stderr)
        return 1
    try:
        payload = read_payload(args.executable, table)
    except PayloadError as error:
        print(f"extract-payload: {error}", file=sys.stderr)
        return 1
    if args.manifest:
        print("\n".join(manifest_lines(payload)))
        return 0
    os.makedirs(args.out, exist_ok=True)
    for _, _, file_name, data in payload:
        with open(os.path.join(args.out, file_name), "wb") as output:
            output.write(data)
        print(f"{file_name} {len(data)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
