#!/usr/bin/python3
"""Checks a built wrapper executable as a file: header, imports and resources.

    check_executable.py EXE PAYLOAD_DIR --identity FILE --manifest FILE [--machine i386|amd64]

--identity is the build's kzt-wrapper.identity.txt (the payload file names and the manifest's
identity follow from it), --manifest the manifest file the build generated.

Stops at the first failure with a message and exit code 1; on success prints what it
checked. Needs python3-pefile (Debian), so run it with /usr/bin/python3.
"""
import argparse
import os
import struct
import sys
import xml.etree.ElementTree as ElementTree

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from identity_file import read_identity  # noqa: E402

MACHINES = {
    # name: (machine field, optional header magic, format name)
    "i386": (0x014C, 0x10B, "PE32"),
    "amd64": (0x8664, 0x20B, "PE32+"),
}

# Libraries every Windows release carries in its system folder. Anything else would have to
# travel with the executable; version.dll is deliberately absent: the engine gate loads it
# by full path at run time.
SYSTEM_DLLS = {"kernel32", "user32", "advapi32", "shell32", "msvcrt", "gdi32", "ntdll", "ole32",
               "shlwapi", "comctl32"}

RT_ICON, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 6, 14, 16, 24
LANG_EN_US = 1033
STRING_ID = 4
ICON_GROUP_ID = 115
# (width and height, bits per pixel) of the icon images 1 to 12, in this order.
ICON_IMAGES = [(48, 4), (32, 4), (24, 4), (16, 4), (48, 8), (32, 8), (24, 8), (16, 8),
               (48, 32), (32, 32), (24, 32), (16, 32)]

# Resource type and identifier of the payload, in the order of the resource table: the
# product package, the seven cabinets in the order they are written, au.msi, au.cab.
PAYLOAD_RESOURCES = [
    ("ZELVAN_INSTALLER", 101),
    ("ZELVAN_CAB9", 110), ("ZELVAN_CAB10", 111), ("ZELVAN_CAB7", 108), ("ZELVAN_CAB8", 109),
    ("ZELVAN_CAB11", 112), ("ZELVAN_CAB12", 113), ("ZELVAN_CAB13", 114),
    ("ZELVAN_INSTALLER", 1119),
    ("ZELVAN_INSTALLER", 1120),
]

# String 4 by language. Blanks matter: two after the first sentence in the Latin-script
# texts, two at the end of the Swedish one.
ENGINE_TOO_OLD = {
    1033: (
        "Zelvan(TM) could not be installed because the Windows Installer 2.0 "
        "Engine is not installed on this system.  Please download and install "
        "Windows Installer 2.0 or higher from the Microsoft web site."
    ),
    7: (
        "Zelvan(TM) konnte nicht installiert werden, da Windows Installer 2.0 auf "
        "diesem System nicht installiert ist.  Laden Sie Windows Installer 2.0 "
        "oder höher von der Microsoft-Website herunter und installieren Sie es."
    ),
    10: (
        "Zelvan(TM) no se ha podido instalar porque el motor Windows Installer "
        "2.0 Engine no está instalado en el sistema.  Descargue e instale el "
        "motor Windows Installer 2.0 o una versión posterior de la página web de "
        "Microsoft."
    ),
    12: (
        "Impossible d'installer Zelvan(TM), car le moteur Windows Installer 2.0 "
        "n'est pas installé sur ce système.  Téléchargez Windows Installer 2.0 ou "
        "ultérieur à partir du site Web de Microsoft et installez-le."
    ),
    16: (
        "Installazione di Zelvan(TM) non riuscita: Windows Installer 2.0 Engine "
        "non è installato nel sistema corrente.  Scaricare e installare Windows "
        "Installer 2.0 o versioni successive dal sito Web Microsoft."
    ),
    29: (
        "Zelvan(TM) kunde inte installeras därför att Windows Installer 2.0 "
        "Engine inte är installerad på detta system.  Ladda gärna ned och "
        "installera Windows Installer 2.0 eller senare version från Microsifts "
        "webbsida.  "
    ),
    1028: (
        "無法安裝 Zelvan(TM)，因為此系統上未安裝 Windows Installer 2.0 引擎。請從 Microsoft 網站下載並安裝 "
        "Windows Installer 2.0 或更高版本。"
    ),
    1041: (
        "Windows Installer 2.0 Engine がこのシステムにインストールされていないため、Zelvan(TM) "
        "をインストールできませんでした。Windows Installer 2.0 以上を Microsoft Web "
        "サイトからダウンロードし、インストールしてください。"
    ),
    1042: (
        "시스템에 Windows Installer 2.0 Engine이 설치되어 있지 않으므로 Zelvan(TM)를 설치하지 못했습니다. "
        "Microsoft 웹 사이트에서 Windows Installer 2.0 이상 버전을 다운로드하여 설치하십시오."
    ),
    2052: (
        "由于未在此系统上安装 Windows Installer 2.0 版引擎，因此无法安装 Zelvan(TM)。请从 Microsoft 的 "
        "Web 站点下载并安装 Windows Installer 2.0 版或更高版本。"
    ),
}


def fail(message):
    sys.stderr.write("check_executable: FAIL: %s\n" % message)
    sys.exit(1)


def payload_table(identity):
    """(file in the payload folder, resource type, identifier) of this release's payload."""
    names = [identity["PRODUCT_PACKAGE"]] + identity["CABINETS"].split() + ["au.msi", "au.cab"]
    if len(names) != len(PAYLOAD_RESOURCES):
        fail("the identity file names %d payload files, expected %d"
             % (len(names), len(PAYLOAD_RESOURCES)))
    return [(name,) + resource for name, resource in zip(names, PAYLOAD_RESOURCES)]


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def ordered(keys):
    """Resource keys sorted: numbers first, by value, then names."""
    return sorted(keys,
                  key=lambda k: (isinstance(k, str), k if isinstance(k, int) else 0, str(k)))


def resource_key(entry):
    return str(entry.name) if entry.name is not None else entry.id


def read_resources(pe):
    """{type: {id: {language: bytes}}}; named types and ids are texts, the others numbers."""
    tree = {}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return tree
    for type_entry in root.entries:
        ids = tree.setdefault(resource_key(type_entry), {})
        for id_entry in type_entry.directory.entries:
            languages = ids.setdefault(resource_key(id_entry), {})
            for language_entry in id_entry.directory.entries:
                data = language_entry.data.struct
                languages[language_entry.id] = pe.get_data(data.OffsetToData, data.Size)
    return tree


def check_header(pe, machine):
    expected_machine, expected_magic, format_name = MACHINES[machine]
    if pe.OPTIONAL_HEADER.Magic != expected_magic:
        fail("optional header magic 0x%X, expected 0x%X (%s)"
             % (pe.OPTIONAL_HEADER.Magic, expected_magic, format_name))
    if pe.FILE_HEADER.Machine != expected_machine:
        fail("machine 0x%04X, expected 0x%04X (%s)"
             % (pe.FILE_HEADER.Machine, expected_machine, machine))
    subsystem = pe.OPTIONAL_HEADER.Subsystem
    if subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]:
        fail("subsystem %d, expected %d (Windows GUI)"
             % (subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]))
    return "%s, machine %s, Windows GUI subsystem" % (format_name, machine)


def check_imports(pe):
    names = []
    for attribute in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT"):
        for entry in getattr(pe, attribute, []):
            names.append(entry.dll.decode("ascii", "replace"))
    for name in names:
        base = name.lower()
        if base.endswith(".dll"):
            base = base[:-4]
        if base == "version":
            fail("imports %s: the version library must be loaded at run time, not imported"
                 % name)
        if base not in SYSTEM_DLLS:
            fail("imports %s, which is not a Windows system library (allowed: %s)"
                 % (name, ", ".join(sorted(SYSTEM_DLLS))))
    return "imports only system libraries: %s" % ", ".join(sorted(n.lower() for n in names))


def check_resource_types(resources):
    allowed = {RT_ICON, RT_STRING, RT_GROUP_ICON, RT_MANIFEST} | {t for t, _ in PAYLOAD_RESOURCES}
    if RT_VERSION in resources:
        fail("the executable has a version-information resource (RT_VERSION)")
    for resource_type in resources:
        if resource_type not in allowed:
            fail("unexpected resource type %r" % (resource_type,))
    payload_ids = {}
    for resource_type, resource_id in PAYLOAD_RESOURCES:
        payload_ids.setdefault(resource_type, set()).add(resource_id)
    for resource_type, ids in payload_ids.items():
        extra = set(resources.get(resource_type, {})) - ids
        if extra:
            fail("unexpected identifiers %s of resource type %s" % (sorted(extra), resource_type))
    return "no version resource; resource types: %s" % ", ".join(
        (str(t) for t in ordered(resources)))


def check_manifest(resources, manifest_path):
    with open(manifest_path, "rb") as f:
        expected = f.read()
    manifests = resources.get(RT_MANIFEST, {})
    if sorted(manifests) != [1]:
        fail("manifest identifiers %s, expected [1]" % sorted(manifests))
    languages = manifests[1]
    if sorted(languages) != [LANG_EN_US]:
        fail("manifest 1 in languages %s, expected [1033]" % sorted(languages))
    data = languages[LANG_EN_US]
    if data != expected:
        at = first_difference(data, expected)
        fail("manifest 1 differs from %s at byte %d (resource %d bytes, file %d bytes): %r"
             % (manifest_path, at, len(data), len(expected), data[max(0, at - 20):at + 20]))
    return "manifest 1 (1033) equals %s (%d bytes)" % (manifest_path, len(expected))


ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


def check_manifest_content(data, identity):
    """The manifest's elements, independently of the file it was built from: elevation, the
    identity, and none of the sections (compatibility list, common-controls dependency,
    display scaling) that would change how Windows treats the wrapper."""
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        fail("manifest 1 is not well-formed XML: %s" % error)

    def children(element, tags, where):
        found = [child.tag for child in element]
        if found != tags:
            fail("manifest: %s holds %s, expected %s" % (where, found, tags))
        return list(element)

    if root.tag != ASM_V1 + "assembly" or root.attrib != {"manifestVersion": "1.0"}:
        fail("manifest: root %s %s, expected %sassembly manifestVersion 1.0"
             % (root.tag, root.attrib, ASM_V1))
    assembly, description, trust = children(
        root, [ASM_V1 + "assemblyIdentity", ASM_V1 + "description", ASM_V3 + "trustInfo"],
        "assembly")
    expected_identity = {"version": identity["MANIFEST_VERSION"], "processorArchitecture": "X86",
                         "name": identity["MANIFEST_NAME"], "type": "win32"}
    if assembly.attrib != expected_identity:
        fail("manifest: assemblyIdentity %s, expected %s" % (assembly.attrib, expected_identity))
    if description.text != identity["DISPLAY_NAME"] or len(description):
        fail("manifest: description %r, expected the product's display name %r as its text"
             % (description.text, identity["DISPLAY_NAME"]))
    (security,) = children(trust, [ASM_V3 + "security"], "trustInfo")
    (privileges,) = children(security, [ASM_V3 + "requestedPrivileges"], "security")
    (level,) = children(privileges, [ASM_V3 + "requestedExecutionLevel"], "requestedPrivileges")
    expected_level = {"level": "requireAdministrator", "uiAccess": "false"}
    if level.attrib != expected_level or len(level):
        fail("manifest: requestedExecutionLevel %s, expected %s" % (level.attrib, expected_level))
    return "manifest: requireAdministrator, identity %s %s X86, %s, nothing else" % (
        identity["MANIFEST_NAME"], identity["MANIFEST_VERSION"], identity["DISPLAY_NAME"])


def only_language(languages, what):
    if len(languages) != 1:
        fail("%s exists in %d languages %s, expected one"
             % (what, len(languages), sorted(languages)))
    return next(iter(languages.values()))


def check_icons(resources):
    groups = resources.get(RT_GROUP_ICON, {})
    if ordered(groups) != [ICON_GROUP_ID]:
        fail("icon groups %s, expected only %d" % (ordered(groups), ICON_GROUP_ID))
    group = only_language(groups[ICON_GROUP_ID], "icon group %d" % ICON_GROUP_ID)
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    if (reserved, kind) != (0, 1) or len(group) != 6 + 14 * count:
        fail("icon group %d is not a well-formed icon directory" % ICON_GROUP_ID)
    if count != len(ICON_IMAGES):
        fail("icon group %d has %d images, expected %d" % (ICON_GROUP_ID, count, len(ICON_IMAGES)))
    images = resources.get(RT_ICON, {})
    if ordered(images) != list(range(1, count + 1)):
        fail("icon images %s, expected 1 to %d" % (ordered(images), count))
    for index, (size, bits) in enumerate(ICON_IMAGES):
        width, height, _, _, planes, bit_count, byte_count, image_id = struct.unpack_from(
            "<BBBBHHIH", group, 6 + 14 * index)
        if (width, height, bit_count, image_id) != (size, size, bits, index + 1):
            fail("icon group entry %d is %dx%d %d bits id %d, expected %dx%d %d bits id %d"
                 % (index + 1, width, height, bit_count, image_id, size, size, bits, index + 1))
        image = only_language(images[image_id], "icon %d" % image_id)
        if len(image) != byte_count:
            fail("icon %d has %d bytes, its group entry says %d"
                 % (image_id, len(image), byte_count))
        header_size, bmp_width, bmp_height, bmp_planes, bmp_bits, _, _, _, _, used, _ = \
            struct.unpack_from("<IiiHHIIiiII", image, 0)
        found = (header_size, bmp_width, bmp_height, bmp_planes, bmp_bits)
        if found != (40, size, 2 * size, 1, bits):
            fail("icon %d bitmap header: %dx%d/2, %d bits, expected %dx%d %d bits"
                 % (image_id, bmp_width, bmp_height, bmp_bits, size, size, bits))
        colours = used if used else (1 << bits if bits <= 8 else 0)
        colour_stride = (bits * size + 31) // 32 * 4
        mask_stride = (size + 31) // 32 * 4
        expected_size = 40 + 4 * colours + (colour_stride + mask_stride) * size
        if len(image) != expected_size:
            fail("icon %d has %d bytes, expected %d (header, %d colours, pixels and AND mask)"
                 % (image_id, len(image), expected_size, colours))
    return "icon group %d alone, 12 images in order 48/32/24/16 at 4, 8 and 32 bits" % ICON_GROUP_ID


def parse_string_block(block, what):
    """The 16 strings of one string-table block."""
    strings = []
    at = 0
    for _ in range(16):
        if at + 2 > len(block):
            fail("%s is truncated" % what)
        (length,) = struct.unpack_from("<H", block, at)
        at += 2
        if at + 2 * length > len(block):
            fail("%s is truncated" % what)
        strings.append(block[at:at + 2 * length].decode("utf-16-le"))
        at += 2 * length
    if block[at:].strip(b"\0"):
        fail("%s has %d extra bytes after its 16 strings" % (what, len(block) - at))
    return strings


def check_strings(resources):
    blocks = resources.get(RT_STRING, {})
    block_id = STRING_ID // 16 + 1
    if ordered(blocks) != [block_id]:
        fail("string blocks %s, expected only block %d (string %d)"
             % (ordered(blocks), block_id, STRING_ID))
    languages = blocks[block_id]
    if sorted(languages) != sorted(ENGINE_TOO_OLD):
        fail("string %d in languages %s, expected %s"
             % (STRING_ID, sorted(languages), sorted(ENGINE_TOO_OLD)))
    for language, expected in sorted(ENGINE_TOO_OLD.items()):
        strings = parse_string_block(languages[language], "string block %d, language %d"
                                     % (block_id, language))
        text = strings[STRING_ID % 16]
        if text != expected:
            at = first_difference(text, expected)
            fail("string %d, language %d differs at character %d:\n  got      %r\n  expected %r"
                 % (STRING_ID, language, at, text[max(0, at - 20):at + 20],
                    expected[max(0, at - 20):at + 20]))
        others = [i for i, s in enumerate(strings) if s and i != STRING_ID % 16]
        if others:
            fail("language %d has other strings besides %d: %s" % (language, STRING_ID, others))
    return "string %d alone, exact in languages %s" % (
        STRING_ID, ", ".join(str(l) for l in sorted(ENGINE_TOO_OLD)))


def check_payload(resources, payload_dir, payload):
    present = []
    for name, resource_type, resource_id in payload:
        path = os.path.join(payload_dir, name)
        entry = resources.get(resource_type, {}).get(resource_id)
        what = "resource %s %d" % (resource_type, resource_id)
        if not os.path.isfile(path):
            if entry is not None:
                fail("%s exists although %s is not in the payload folder" % (what, name))
            continue
        if entry is None:
            fail("%s is missing (payload file %s)" % (what, path))
        if sorted(entry) != [LANG_EN_US]:
            fail("%s in languages %s, expected [1033]" % (what, sorted(entry)))
        with open(path, "rb") as f:
            expected = f.read()
        data = entry[LANG_EN_US]
        if data != expected:
            fail("%s differs from %s at byte %d (resource %d bytes, file %d bytes)"
                 % (what, path, first_difference(data, expected), len(data), len(expected)))
        present.append(name)
    absent = [name for name, _, _ in payload if name not in present]
    return "payload byte-identical in 1033: %s; absent: %s" % (
        ", ".join(present) or "none", ", ".join(absent) or "none")


def main():
    parser = argparse.ArgumentParser(description="Checks a built wrapper executable as a file.")
    parser.add_argument("exe")
    parser.add_argument("payload_dir")
    parser.add_argument("--machine", choices=sorted(MACHINES), default="i386")
    parser.add_argument("--identity", required=True)
    parser.add_argument("--manifest", required=True)
    args = parser.parse_args()
    identity = read_identity(args.identity)
    if not os.path.isdir(args.payload_dir):
        fail("payload folder %s not found" % args.payload_dir)
    try:
        pe = pefile.PE(args.exe, fast_load=False)
    except (OSError, pefile.PEFormatError) as error:
        fail("cannot read %s as a PE file: %s" % (args.exe, error))
    resources = read_resources(pe)
    done = [
        check_header(pe, args.machine),
        check_imports(pe),
        check_resource_types(resources),
        check_manifest(resources, args.manifest),
        check_manifest_content(resources[RT_MANIFEST][1][LANG_EN_US], identity),
        check_icons(resources),
        check_strings(resources),
        check_payload(resources, args.payload_dir, payload_table(identity)),
    ]
    print("check_executable: %s passed:" % args.exe)
    for line in done:
        print("  ok  " + line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
