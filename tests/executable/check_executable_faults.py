#!/usr/bin/python3
"""Shows that check_executable.py catches the faults it is there for.

    check_executable_faults.py EXE PAYLOAD_DIR --identity FILE --manifest FILE [--machine i386|amd64]

Each row damages a copy of the built executable (or of the payload folder) in one way a
broken build could, and expects the checker to fail with the matching message. The
undamaged copy must pass.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
CHECKER = os.path.join(HERE, "check_executable.py")
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, HERE)
from check_executable import payload_table, read_identity  # noqa: E402


def resource_entry(pe, type_key, id_key, language=None):
    """The directory entries (type, id, language) of one resource."""
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        name = str(type_entry.name) if type_entry.name is not None else type_entry.id
        if name != type_key:
            continue
        for id_entry in type_entry.directory.entries:
            if id_entry.id == id_key:
                for language_entry in id_entry.directory.entries:
                    if language is None or language_entry.id == language:
                        return type_entry, id_entry, language_entry
    sys.exit("check_executable_faults: resource %r %r not found in the executable"
             % (type_key, id_key))


def data_offset(pe, language_entry):
    return pe.get_offset_from_rva(language_entry.data.struct.OffsetToData)


def first_payload_resource(pe):
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.name is not None and str(type_entry.name).startswith("ZELVAN_"):
            return str(type_entry.name), type_entry.directory.entries[0].id
    sys.exit("check_executable_faults: the executable carries no payload resource")


def first_payload(pe, payload):
    """Directory entries and file name of the first payload resource in the executable."""
    type_name, resource_id = first_payload_resource(pe)
    file_name = [n for n, t, i in payload if (t, i) == (type_name, resource_id)][0]
    return resource_entry(pe, type_name, resource_id) + (file_name,)


# Damage functions: (pe, bytes of the file) -> (file offset, bytes written there). One small
# patch each, so that a copy of a large executable is written once and patched in place.
def stale_payload(pe, image):
    _, _, language = resource_entry(pe, *first_payload_resource(pe))
    offset = data_offset(pe, language) + language.data.struct.Size - 1
    return offset, bytes([image[offset] ^ 0x01])


def swedish_trailing_blank(pe, image):
    # Last character of the Swedish string 4: its block ends with strings 5 to 15, empty.
    _, _, language = resource_entry(pe, 6, 1, 29)
    end = data_offset(pe, language) + language.data.struct.Size - 2 * 11
    if image[end - 2:end] != b" \0":
        sys.exit("check_executable_faults: the Swedish text does not end where expected")
    return end - 2, b"x"


def version_import(pe, image):
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        if entry.dll.lower() == b"shell32.dll":
            return pe.get_offset_from_rva(entry.struct.Name), b"VERSION.dll"
    sys.exit("check_executable_faults: no shell32.dll import to rename")


def wrong_icon_depth(pe, image):
    _, _, language = resource_entry(pe, 14, 115)
    # Bit count of the first group entry: after the 6-byte header, at byte 6 of the entry.
    return data_offset(pe, language) + 6 + 6, b"\x08"


def wrong_machine(pe, image):
    offset = pe.FILE_HEADER.get_file_offset()
    return offset, bytes([image[offset] ^ 0x01])


def edited_manifest(pe, image):
    _, _, language = resource_entry(pe, 24, 1)
    offset = data_offset(pe, language) + 10
    return offset, bytes([image[offset] ^ 0x20])


def version_resource(pe, image):
    # Relabel the manifest's type as RT_VERSION (16).
    type_entry, _, _ = resource_entry(pe, 24, 1)
    return type_entry.struct.get_file_offset(), (16).to_bytes(4, "little")


# name, damage to the executable, drop the first payload file, expected message (pattern)
FAULTS = [
    ("payload resource differs from its file", stale_payload, False,
     r"resource ZELVAN_\w+ \d+ differs from"),
    ("payload file gone, resource still there", None, True,
     r"resource ZELVAN_\w+ \d+ exists although"),
    ("Swedish text lost its trailing blank", swedish_trailing_blank, False,
     "string 4, language 29 differs"),
    ("version.dll imported", version_import, False, "must be loaded at run time"),
    ("icon image 1 at 8 bits", wrong_icon_depth, False, "icon group entry 1"),
    ("other machine", wrong_machine, False, r"^check_executable: FAIL: machine 0x"),
    ("manifest edited", edited_manifest, False, "manifest 1 differs"),
    ("version-information resource", version_resource, False, "version-information resource"),
]


def run_checker(exe, payload_dir, args):
    return subprocess.run([sys.executable, CHECKER, exe, payload_dir, "--machine", args.machine,
                           "--identity", args.identity, "--manifest", args.manifest],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("payload_dir")
    parser.add_argument("--machine", default="i386")
    parser.add_argument("--identity", required=True)
    parser.add_argument("--manifest", required=True)
    args = parser.parse_args()
    payload = payload_table(read_identity(args.identity))

    with open(args.exe, "rb") as f:
        original = f.read()
    pe = pefile.PE(data=original)
    present = [n for n in sorted(os.listdir(args.payload_dir))
               if os.path.isfile(os.path.join(args.payload_dir, n))]
    failures = 0
    with tempfile.TemporaryDirectory() as scratch:
        exe = os.path.join(scratch, "copy.exe")
        shutil.copyfile(args.exe, exe)
        result = run_checker(exe, args.payload_dir, args)
        if result.returncode != 0:
            sys.exit("check_executable_faults: the undamaged copy fails:\n" + result.stderr)
        for name, damage, drop_payload, expected in FAULTS:
            offset, patch = damage(pe, original) if damage is not None else (0, b"")
            with open(exe, "r+b") as f:
                f.seek(offset)
                f.write(patch)
            payload_dir = args.payload_dir
            if drop_payload:
                # The resource of the first payload file stays, its file goes.
                payload_dir = os.path.join(scratch, "payload")
                shutil.rmtree(payload_dir, ignore_errors=True)
                os.mkdir(payload_dir)
                kept = [n for n in present if n != first_payload(pe, payload)[3]]
                for n in kept:
                    os.symlink(os.path.join(os.path.abspath(args.payload_dir), n),
                               os.path.join(payload_dir, n))
            result = run_checker(exe, payload_dir, args)
            with open(exe, "r+b") as f:
                f.seek(offset)
                f.write(original[offset:offset + len(patch)])
            if result.returncode == 1 and re.search(expected, result.stderr, re.M):
                print("  caught  %s" % name)
            else:
                failures += 1
                print("  MISSED  %s: exit %d, expected a failure with %r, got:\n%s"
                      % (name, result.returncode, expected, result.stderr or result.stdout))
    if failures:
        sys.exit("check_executable_faults: %d of %d faults not caught" % (failures, len(FAULTS)))
    print("check_executable_faults: all %d faults caught" % len(FAULTS))
    return 0


if __name__ == "__main__":
    sys.exit(main())
