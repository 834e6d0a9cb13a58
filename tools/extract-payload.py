#!/usr/bin/python3
"""Reads the payload resources out of a built wrapper executable (signed or not).

    extract-payload.py EXE --manifest       print the payload manifest of what EXE carries
    extract-payload.py EXE --out FOLDER     write each payload resource to FOLDER under the
                                            file name it becomes

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
import sys

import pefile

MANIFEST_HEADER = "# kzt-wrapper payload manifest 1: type id file size sha256"
LANG_EN_US = 1033

# Resource type, identifier and the file it becomes, in the order of the resource table.
PAYLOAD = [
    ("ZELVAN_INSTALLER", 101, "kzt1.6.0_32.msi"),
    ("ZELVAN_CAB9", 110, "ss160320.cab"),
    ("ZELVAN_CAB10", 111, "st160320.cab"),
    ("ZELVAN_CAB7", 108, "sj160320.cab"),
    ("ZELVAN_CAB8", 109, "sp160320.cab"),
    ("ZELVAN_CAB11", 112, "sz160320.cab"),
    ("ZELVAN_CAB12", 113, "sb160320.cab"),
    ("ZELVAN_CAB13", 114, "sr160320.cab"),
    ("ZELVAN_INSTALLER", 1119, "au.msi"),
    ("ZELVAN_INSTALLER", 1120, "au.cab"),
]


class PayloadError(Exception):
    pass


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


def read_payload(path):
    """[(type, id, file name, data)] of the payload resources in EXE, in table order."""
    try:
        pe = pefile.PE(path, fast_load=True)
    except (pefile.PEFormatError, OSError) as error:
        raise PayloadError(f"{path}: not a PE image ({error})")
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    found = named_resources(pe)
    known = {(type_name, number) for type_name, number, _ in PAYLOAD}
    unknown = sorted(f"{t}/{n}" for t, n in found if (t, n) not in known)
    if unknown:
        raise PayloadError("resources of a payload type outside the table: " + ", ".join(unknown))
    payload = []
    for type_name, number, file_name in PAYLOAD:
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
    args = parser.parse_args()
    try:
        payload = read_payload(args.executable)
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
