#!/usr/bin/python3
"""Checks a payload folder against what the wrapper of one release identity relies on, and
writes what the build takes from the carried update-service package.

    check-payload-contract.py --payload DIR --identity-in FILE --identity-out FILE
                              --header FILE --arch i686|x86_64 [--partial] [--unchecked]
                              [--msiinfo PATH] [--remove-on-failure FILE...]
    check-payload-contract.py --dry-run --payload DIR --arch i686|x86_64
                              [--product-version V] [--build-string B] [--manifest-version M]
                              [--update-service yes|no]

The wrapper never looks inside its payload, so these are the points where a package that does
not fit the wrapper shows only on a user's machine:
  - the product package's Media table names, as external cabinets, exactly the seven cabinet
    files the wrapper writes for this identity, and the folder holds each of them;
  - the product package carries an embedded transform, named by its decimal number, for every
    language other than 1033 that the build can choose;
  - the product package and au.msi are built for the build's platform (Summary Information
    template Intel for i686, x64 for x86_64): the engine installs what the package says, into
    the registry view and folders that the wrapper of this build does not read otherwise;
  - each cabinet (au.cab too) is whole (its header's size is the file's size) and holds exactly
    the files that the package's File table places on its Media entry, at the sizes the File
    table records and, where the package records a hash (MsiFileHash), with those contents:
    a cut copy or another release's cabinet under this release's name fails here;
  - the update service: the release carries one (au.msi with au.cab) unless its identity says
    UPDATE_SERVICE=no; au.msi names au.cab as its only external cabinet and has a well-formed
    ProductCode and ProductVersion.
Those two become the removal's product code and the version the installed service is compared
with (--header, a C header), so the two cannot drift apart. The packages are read with msiinfo
(msitools). Every failure names the file and the point.

Exit codes: 0 the contract is met; 1 a point is not met (or the folder is missing);
2 wrong arguments; 3 (dry run) the identity is one the build refuses; 4 a tool is missing.

--dry-run derives the identity's names as a configure would (cmake -P on
cmake/release_identity.cmake; defaults: cmake/release-identity.txt) and checks the folder
without building or writing anything, with the messages of the build.
--partial (tests only) accepts a folder that lacks files; what is present is still checked.
--unchecked (synthetic test payloads only) checks nothing and takes the update service's
identity from au.msi when msiinfo can read it, else leaves it empty: an empty version makes
no installed service count as outdated, so nothing is ever removed.
--identity-in is the release-identity.txt of the build (KEY=value lines); --identity-out gets
the same lines followed by the update service's identity and the payload's platform.
--remove-on-failure names the build's outputs (executable, manifest) that must not outlive a
payload that fails: a failed build leaves nothing that passes for the new one.
"""
import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from identity_file import read_identity  # noqa: E402

PACKAGE_SIGNATURE = bytes.fromhex("d0cf11e0a1b11ae1")
UPDATE_SERVICE_PACKAGE = "au.msi"
UPDATE_SERVICE_CABINET = "au.cab"
PRODUCT_CODE = re.compile(r"^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$")
PRODUCT_VERSION = re.compile(r"^[0-9]{1,5}(\.[0-9]{1,5}){1,3}$")
# The Summary Information platform each build's engine run needs (x64 has a synonym).
PLATFORMS = {"i686": ("Intel",), "x86_64": ("x64", "AMD64")}
EXIT_MET, EXIT_NOT_MET, EXIT_USAGE, EXIT_IDENTITY, EXIT_TOOL = 0, 1, 2, 3, 4


class Unreadable(Exception):
    pass


def starts_with(path, signature):
    with open(path, "rb") as f:
        return f.read(len(signature)) == signature


def export_table(msiinfo, package, table):
    """Rows of one table as dictionaries by column name; [] when the package lacks it."""
    result = subprocess.run([msiinfo, "export", package, table], capture_output=True)
    if result.returncode != 0:
        error = result.stderr.decode("utf-8", "replace")
        if "table not found" in error or "Couldn't find id" in error:
            return []
        last = [line for line in error.splitlines() if line.strip()]
        raise Unreadable("msiinfo export %s failed: %s" % (table, last[-1] if last else
                                                            "exit code %d" % result.returncode))
    lines = result.stdout.decode("utf-8", "replace").split("\r\n")
    # Column names, column types, then the table name with its key columns.
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line != ""]


def package_problem(path):
    try:
        if not starts_with(path, PACKAGE_SIGNATURE):
            return "does not begin like a Windows Installer package (D0 CF 11 E0 A1 B1 1A E1)"
    except OSError as error:
        return "cannot be read (%s)" % error.strerror
    return None


def external_cabinets(media):
    return [row.get("Cabinet", "") for row in media
            if row.get("Cabinet", "") and not row["Cabinet"].startswith("#")]


def summary_platform(msiinfo, package):
    """The platform of the package's Summary Information template ("Intel;1033" -> "Intel")."""
    result = subprocess.run([msiinfo, "suminfo", package], capture_output=True)
    if result.returncode != 0:
        raise Unreadable("msiinfo suminfo failed: exit code %d" % result.returncode)
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        if line.startswith("Template:"):
            return line[len("Template:"):].strip().split(";")[0]
    raise Unreadable("its Summary Information has no template")


def check_platform(msiinfo, path, arch, problems):
    platform = summary_platform(msiinfo, path)
    expected = PLATFORMS[arch]
    # An empty platform means Intel to the engine.
    if (platform or "Intel") not in expected:
        other = [a for a, names in PLATFORMS.items() if (platform or "Intel") in names]
        problems.append("its Summary Information platform is '%s', but this is the %s build, "
                        "whose packages must say %s%s" % (
                            platform, arch, expected[0],
                            ": this is the variant of the %s build; give the %s variant of the "
                            "payload" % (other[0], arch) if other else ""))


class Cabinet:
    """The parts of a cabinet file the contract compares: its files and their contents."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        self.files = []  # (name, size, folder index, offset in the folder)
        self.folders = []  # (first data block, block count, compression type)


def read_cabinet(path):
    """A Cabinet, or a text saying why the file is not a whole cabinet."""
    cabinet = Cabinet(path)
    data = cabinet.data
    if len(data) < 36 or data[:4] != b"MSCF":
        return ("is not a cabinet (it does not begin with MSCF)" if data[:4] != b"MSCF" else
                "is cut short: %d bytes, less than a cabinet header" % len(data))
    size, files_at = struct.unpack_from("<I4xI", data, 8)
    folder_count, file_count, flags = struct.unpack_from("<HHH", data, 26)
    if size != len(data):
        return ("is %d bytes long, but its header gives the cabinet's size as %d: %s"
                % (len(data), size, "cut short (a truncated copy?)" if size > len(data)
                   else "something follows the cabinet"))
    try:
        at = 36
        folder_reserve = data_reserve = 0
        if flags & 4:
            header_reserve, folder_reserve, data_reserve = struct.unpack_from("<HBB", data, at)
            at += 4 + header_reserve
        if flags & 3:
            return "is part of a cabinet set spanning several files, which the wrapper never writes"
        for _ in range(folder_count):
            first, blocks, compression = struct.unpack_from("<IHH", data, at)
            cabinet.folders.append((first, blocks, compression & 0xF))
            at += 8 + folder_reserve
        cabinet.data_reserve = data_reserve
        at = files_at
        for _ in range(file_count):
            file_size, offset, folder = struct.unpack_from("<IIH", data, at)
            end = data.index(b"\0", at + 16)
            cabinet.files.append((data[at + 16:end].decode("latin-1"), file_size, folder, offset))
            at = end + 1
    except (struct.error, ValueError):
        return "is not a readable cabinet (its folder or file list runs past its end)"
    return cabinet


def folder_contents(cabinet, index):
    """The uncompressed bytes of one folder; None when its compression is not MSZIP or none."""
    first, blocks, compression = cabinet.folders[index]
    if compression not in (0, 1):
        return None
    out = []
    history = b""
    at = first
    for _ in range(blocks):
        packed = struct.unpack_from("<H", cabinet.data, at + 4)[0]
        block = cabinet.data[at + 8 + cabinet.data_reserve:at + 8 + cabinet.data_reserve + packed]
        at += 8 + cabinet.data_reserve + packed
        if compression == 0:
            out.append(block)
            continue
        if block[:2] != b"CK":
            raise zlib.error("an MSZIP block without its CK signature")
        # Each MSZIP block is a deflate stream that may refer to the block before it.
        inflater = zlib.decompressobj(-15, zdict=history) if history else zlib.decompressobj(-15)
        history = inflater.decompress(block[2:]) + inflater.flush()
        out.append(history)
    return b"".join(out)


def msi_file_hash(contents):
    """The four numbers of an MsiFileHash row for these contents (MD5, as signed integers)."""
    return list(struct.unpack("<iiii", hashlib.md5(contents).digest()))


def check_cabinets(msiinfo, package, folder, problems_of):
    """Each external cabinet of the package that the folder holds against the File table.
    problems_of(path) is the list the problems of that cabinet go to."""
    media = sorted(export_table(msiinfo, package, "Media"),
                   key=lambda row: int(row.get("LastSequence") or 0))
    files = export_table(msiinfo, package, "File")
    hashes = {row["File_"]: [int(row["HashPart%d" % n]) for n in range(1, 5)]
              for row in export_table(msiinfo, package, "MsiFileHash")}
    package_name = os.path.basename(package)
    previous = 0
    for row in media:
        last = int(row.get("LastSequence") or 0)
        first, previous = previous + 1, last
        name = row.get("Cabinet", "")
        path = os.path.join(folder, name)
        if not name or name.startswith("#") or not os.path.isfile(path):
            continue
        problems = problems_of(path)
        expected = {f["File"]: int(f["FileSize"]) for f in files
                    if first <= int(f["Sequence"]) <= last}
        cabinet = read_cabinet(path)
        if isinstance(cabinet, str):
            problems.append(cabinet)
            continue
        held = {entry[0]: entry for entry in cabinet.files}
        where = "on its Media entry %s (sequences %d to %d)" % (row.get("DiskId"), first, last)
        missing = sorted(set(expected) - set(held))
        extra = sorted(set(held) - set(expected))
        if missing:
            problems.append("lacks %s, which %s's File table places %s"
                            % (", ".join(missing), package_name, where))
        if extra:
            problems.append("holds %s, which %s's File table does not place %s: a cabinet of "
                            "another release or package?" % (", ".join(extra), package_name, where))
        contents = {}
        for key in sorted(set(expected) & set(held)):
            _, size, folder_index, offset = held[key]
            if size != expected[key]:
                problems.append("holds %s of %d bytes, but %s records %d bytes: a cabinet of "
                                "another release?" % (key, size, package_name, expected[key]))
                continue
            if key not in hashes:
                continue
            if folder_index not in contents:
                try:
                    contents[folder_index] = folder_contents(cabinet, folder_index)
                except (zlib.error, struct.error, IndexError) as error:
                    problems.append("cannot be unpacked (%s)" % error)
                    break
            unpacked = contents[folder_index]
            if unpacked is None:
                continue  # LZX or Quantum: the sizes above are what is compared
            if msi_file_hash(unpacked[offset:offset + size]) != hashes[key]:
                problems.append("holds %s with other contents than %s records for it "
                                "(MsiFileHash): a cabinet of another release?" % (key, package_name))


def check_product_package(msiinfo, path, identity, folder, partial, problems):
    expected = identity["CABINETS"].split()
    media = export_table(msiinfo, path, "Media")
    named = external_cabinets(media)
    embedded = [row["Cabinet"][1:] for row in media if row.get("Cabinet", "").startswith("#")]
    for cabinet in expected:
        if cabinet in embedded:
            problems.append("its Media table names %s as embedded (#%s); the wrapper writes it "
                            "beside the package" % (cabinet, cabinet))
        elif cabinet not in named:
            problems.append("its Media table does not name the cabinet %s, one of the seven the "
                            "wrapper writes beside it for %s" % (cabinet, identity["PRODUCT_VERSION"]))
        elif not partial and not os.path.isfile(os.path.join(folder, cabinet)):
            problems.append("its Media table names %s, but the payload folder has no such file"
                            % cabinet)
    for cabinet in named:
        if cabinet not in expected:
            problems.append("its Media table names the external cabinet %s, which the wrapper "
                            "does not write (it writes %s)" % (cabinet, ", ".join(expected)))
    storages = {row.get("Name", "") for row in export_table(msiinfo, path, "_Storages")}
    for language in identity["TRANSFORM_LANGUAGES"].split():
        if language not in storages:
            problems.append("it carries no embedded transform named %s; the wrapper selects it "
                            "with TRANSFORMS=:%s for users of language %s"
                            % (language, language, language))


def update_service_identity(msiinfo, path):
    properties = {row.get("Property"): row.get("Value", "")
                  for row in export_table(msiinfo, path, "Property")}
    return properties.get("ProductVersion"), properties.get("ProductCode")


def check_update_service_package(msiinfo, path, folder, partial, problems):
    version, code = update_service_identity(msiinfo, path)
    if version is None:
        problems.append("it has no ProductVersion, which the wrapper compares the installed "
                        "service's AUVersion with")
    elif not PRODUCT_VERSION.match(version):
        problems.append("its ProductVersion '%s' is not two to four dot-separated numbers"
                        % version)
    if code is None:
        problems.append("it has no ProductCode, which the wrapper's removal of an older service "
                        "names")
    elif not PRODUCT_CODE.match(code):
        problems.append("its ProductCode '%s' is not a GUID in braces with upper-case digits"
                        % code)
    named = external_cabinets(export_table(msiinfo, path, "Media"))
    if named != [UPDATE_SERVICE_CABINET]:
        problems.append("its Media table names the external cabinets [%s]; the wrapper writes "
                        "exactly %s beside it" % (", ".join(named), UPDATE_SERVICE_CABINET))
    elif not partial and not os.path.isfile(os.path.join(folder, UPDATE_SERVICE_CABINET)):
        problems.append("it names %s, but the payload folder has no such file"
                        % UPDATE_SERVICE_CABINET)
    return version, code


def write_if_changed(path, text):
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except FileNotFoundError:
        pass
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path + ".new", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(path + ".new", path)


class ProblemsOf:
    """A list-like that files each problem appended under one path."""

    def __init__(self, problems, path):
        self.problems, self.path = problems, path

    def append(self, point):
        self.problems.append((self.path, point))


def dry_run_identity(args, scratch):
    """The identity file a configure with these values would write; None when it refuses it
    (cmake has printed why)."""
    script = os.path.join(scratch, "identity.cmake")
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cmake",
                          "release_identity.cmake")
    with open(script, "w", encoding="utf-8") as f:
        f.write("set(CMAKE_BINARY_DIR [==[%s]==])\ninclude([==[%s]==])\n"
                % (scratch, os.path.abspath(source)))
    command = [args.cmake]
    for option, variable in (("product_version", "WRAPPER_PRODUCT_VERSION"),
                             ("build_string", "WRAPPER_BUILD_STRING"),
                             ("manifest_version", "WRAPPER_MANIFEST_VERSION"),
                             ("update_service", "WRAPPER_UPDATE_SERVICE")):
        command.append("-D%s=%s" % (variable, getattr(args, option) or ""))
    if subprocess.run(command + ["-P", script]).returncode != 0:
        return None
    return os.path.join(scratch, "generated", "release-identity.txt")


def check_contract(args, identity, folder):
    """[(file, point)] of the payload against the identity; the update service's
    (version, product code), empty when it carries none; the product package's platform."""
    product = os.path.join(folder, identity["PRODUCT_PACKAGE"])
    update_service = os.path.join(folder, UPDATE_SERVICE_PACKAGE)
    update_cabinet = os.path.join(folder, UPDATE_SERVICE_CABINET)
    carries_service = identity.get("UPDATE_SERVICE", "yes") == "yes"
    problems = []  # (file, point)
    platform = ""

    def check(path, what):
        """Runs what(path, found) on a package; its result, or None when a point failed."""
        problem = package_problem(path)
        if problem:
            problems.append((path, problem))
            return None
        found = []
        try:
            result = what(path, found)
            check_platform(args.msiinfo, path, args.arch, found)
            check_cabinets(args.msiinfo, path, folder, lambda cabinet: ProblemsOf(problems, cabinet))
        except Unreadable as error:
            found.append("cannot be read as an installer database (%s)" % error)
        problems.extend((path, point) for point in found)
        return None if found else result

    if os.path.isfile(product):
        check(product, lambda path, found: check_product_package(
            args.msiinfo, path, identity, folder, args.partial, found))
        try:
            platform = summary_platform(args.msiinfo, product)
        except Unreadable:
            pass
    elif not args.partial:
        problems.append((product, "the payload folder has no product package"))
    version = code = ""
    if os.path.isfile(update_service):
        if not carries_service:
            problems.append((update_service, "the release carries no update service "
                             "(UPDATE_SERVICE=no in its identity), but the folder holds one: the "
                             "wrapper would install it. Remove au.msi and au.cab, or build the "
                             "release with its update service (WRAPPER_UPDATE_SERVICE=yes)"))
        result = check(update_service, lambda path, found: check_update_service_package(
            args.msiinfo, path, folder, args.partial, found))
        if result:
            version, code = result
    elif carries_service and not args.partial:
        problems.append((update_service, "the payload folder has no update service, which the "
                         "release carries (UPDATE_SERVICE=yes in its identity, the default): add "
                         "au.msi and au.cab, or say that the release carries none "
                         "(-DWRAPPER_UPDATE_SERVICE=no)"))
    elif os.path.isfile(update_cabinet):
        problems.append((update_cabinet, "the folder holds au.cab without au.msi, the package "
                         "that installs it"))
    return problems, version, code, platform


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--payload", required=True)
    parser.add_argument("--arch", required=True, choices=sorted(PLATFORMS))
    parser.add_argument("--dry-run", action="store_true")
    parser.add_argument("--identity-in")
    parser.add_argument("--identity-out")
    parser.add_argument("--header")
    parser.add_argument("--product-version")
    parser.add_argument("--build-string")
    parser.add_argument("--manifest-version")
    parser.add_argument("--update-service", choices=("yes", "no"))
    parser.add_argument("--partial", action="store_true")
    parser.add_argument("--unchecked", action="store_true")
    parser.add_argument("--msiinfo", default="msiinfo")
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--remove-on-failure", nargs="*", default=[])
    args = parser.parse_args()
    if args.dry_run == bool(args.identity_in and args.identity_out and args.header) or \
            (not args.dry_run and (args.product_version or args.build_string or
                                   args.manifest_version or args.update_service)):
        parser.print_usage(sys.stderr)
        print("Give either --dry-run with the identity's values, or --identity-in, "
              "--identity-out and --header (a build)", file=sys.stderr)
        return EXIT_USAGE
    for tool in [args.msiinfo] + ([args.cmake] if args.dry_run else []):
        if not args.unchecked and shutil.which(tool) is None:
            print("Payload contract: %s not found (msiinfo: Debian package msitools)" % tool,
                  file=sys.stderr)
            return EXIT_TOOL

    scratch = tempfile.mkdtemp(prefix="payload-contract.") if args.dry_run else None
    try:
        if args.dry_run:
            args.identity_in = dry_run_identity(args, scratch)
            if args.identity_in is None:
                return EXIT_IDENTITY
        return check_and_write(args)
    finally:
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)


def remove_outputs(paths):
    """What an earlier build made of another payload must not pass for this one's."""
    for path in paths:
        if os.path.exists(path):
            os.remove(path)
            print("Payload contract: removed %s, built from the folder as it was before" % path,
                  file=sys.stderr)


def check_and_write(args):
    identity = read_identity(args.identity_in)
    folder = args.payload
    if not os.path.isdir(folder):
        print("Payload folder not found: %s" % folder, file=sys.stderr)
        remove_outputs(args.remove_on_failure)
        return EXIT_NOT_MET
    update_service = os.path.join(folder, UPDATE_SERVICE_PACKAGE)

    version = code = platform = ""
    if args.unchecked:
        if os.path.isfile(update_service) and not package_problem(update_service):
            try:
                read_version, read_code = update_service_identity(args.msiinfo, update_service)
            except (Unreadable, OSError):
                read_version = read_code = None
            if read_version and read_code and PRODUCT_VERSION.match(read_version) and \
                    PRODUCT_CODE.match(read_code):
                version, code = read_version, read_code
        print("Payload contract of %s not checked (synthetic test payload)%s"
              % (folder, "" if version else "; the update service's identity is empty"))
    else:
        problems, version, code, platform = check_contract(args, identity, folder)
        for path, point in problems:
            print("Payload contract: %s: %s" % (path, point), file=sys.stderr)
        if problems:
            print("Payload contract: %d point(s) not met; %s"
                  % (len(problems), "a build would stop here" if args.dry_run else
                     "the executable is not built"), file=sys.stderr)
            remove_outputs(args.remove_on_failure)
            return EXIT_NOT_MET
        print("Payload contract of %s: met (%s build, %s, %d cabinets, transforms %s%s)"
              % (folder, args.arch, identity["PRODUCT_PACKAGE"], len(identity["CABINETS"].split()),
                 identity["TRANSFORM_LANGUAGES"],
                 ", update service %s %s" % (version, code) if version else
                 ", no update service"))
    if args.dry_run:
        return EXIT_MET

    write_if_changed(args.header,
                     "#pragma once\n"
                     "// Generated from the payload's au.msi when the executable is built; do not\n"
                     "// edit. The carried update service's ProductVersion and ProductCode.\n"
                     "#define WRAPPER_UPDATE_SERVICE_VERSION \"%s\"\n"
                     "#define WRAPPER_UPDATE_SERVICE_PRODUCT_CODE \"%s\"\n" % (version, code))
    with open(args.identity_in, encoding="utf-8") as f:
        lines = f.read()
    write_if_changed(args.identity_out, lines +
                     "UPDATE_SERVICE_VERSION=%s\nUPDATE_SERVICE_PRODUCT_CODE=%s\n"
                     "PAYLOAD_PLATFORM=%s\nPAYLOAD_CONTRACT=%s\n"
                     % (version, code, platform, "not checked" if args.unchecked else "met"))
    return EXIT_MET


if __name__ == "__main__":
    sys.exit(main())
