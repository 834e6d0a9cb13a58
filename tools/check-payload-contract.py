#!/usr/bin/python3
"""Checks a payload folder against what the wrapper of one release identity relies on, and
writes what the build takes from the carried update-service package.

    check-payload-contract.py --payload DIR --identity-in FILE --identity-out FILE
                              --header FILE [--partial] [--unchecked] [--msiinfo PATH]

The wrapper never looks inside its payload, so these are the points where a package that does
not fit the wrapper shows only on a user's machine:
  - the product package's Media table names, as external cabinets, exactly the seven cabinet
    files the wrapper writes for this identity, and the folder holds each of them;
  - the product package carries an embedded transform, named by its decimal number, for every
    language other than 1033 that the build can choose;
  - the update-service package (au.msi, when present) names au.cab as its only external
    cabinet, the folder holds au.cab, and it has a well-formed ProductCode and ProductVersion.
Those two become the removal's product code and the version the installed service is compared
with (--header, a C header), so the two cannot drift apart. The packages are read with msiinfo
(msitools). Every failure names the file and the point; the exit code is then 1.

--partial (tests only) accepts a folder that lacks files; what is present is still checked.
--unchecked (synthetic test payloads only) checks nothing and takes the update service's
identity from au.msi when msiinfo can read it, else leaves it empty: an empty version makes
no installed service count as outdated, so nothing is ever removed.
--identity-in is the release-identity.txt of the build (KEY=value lines); --identity-out gets
the same lines followed by the update service's identity.
"""
import argparse
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from identity_file import read_identity  # noqa: E402

PACKAGE_SIGNATURE = bytes.fromhex("d0cf11e0a1b11ae1")
UPDATE_SERVICE_PACKAGE = "au.msi"
UPDATE_SERVICE_CABINET = "au.cab"
PRODUCT_CODE = re.compile(r"^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$")
PRODUCT_VERSION = re.compile(r"^[0-9]{1,5}(\.[0-9]{1,5}){1,3}$")


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


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--payload", required=True)
    parser.add_argument("--identity-in", required=True)
    parser.add_argument("--identity-out", required=True)
    parser.add_argument("--header", required=True)
    parser.add_argument("--partial", action="store_true")
    parser.add_argument("--unchecked", action="store_true")
    parser.add_argument("--msiinfo", default="msiinfo")
    args = parser.parse_args()

    identity = read_identity(args.identity_in)
    folder = args.payload
    if not os.path.isdir(folder):
        print("Payload folder not found: %s" % folder, file=sys.stderr)
        return 1
    product = os.path.join(folder, identity["PRODUCT_PACKAGE"])
    update_service = os.path.join(folder, UPDATE_SERVICE_PACKAGE)
    problems = []  # (file, point)

    def check(path, what):
        """Runs what(path, found) on a package; its result, or None when a point failed."""
        problem = package_problem(path)
        if problem:
            problems.append((path, problem))
            return None
        found = []
        try:
            result = what(path, found)
        except Unreadable as error:
            found.append("cannot be read as an installer database (%s)" % error)
        problems.extend((path, point) for point in found)
        return None if found else result

    version = code = ""
    if args.unchecked:
        if os.path.isfile(update_service) and not package_problem(update_service):
            try:
                read_version, read_code = update_service_identity(args.msiinfo, update_service)
            except Unreadable:
                read_version = read_code = None
            if read_version and read_code and PRODUCT_VERSION.match(read_version) and \
                    PRODUCT_CODE.match(read_code):
                version, code = read_version, read_code
        print("Payload contract of %s not checked (synthetic test payload)%s"
              % (folder, "" if version else "; the update service's identity is empty"))
    else:
        if os.path.isfile(product):
            check(product, lambda path, found: check_product_package(
                args.msiinfo, path, identity, folder, args.partial, found))
        elif not args.partial:
            problems.append((product, "the payload folder has no product package"))
        if os.path.isfile(update_service):
            result = check(update_service, lambda path, found: check_update_service_package(
                args.msiinfo, path, folder, args.partial, found))
            if result:
                version, code = result
        for path, point in problems:
            print("Payload contract: %s: %s" % (path, point), file=sys.stderr)
        if problems:
            print("Payload contract: %d point(s) not met; the executable is not built"
                  % len(problems), file=sys.stderr)
            return 1
        print("Payload contract of %s: met (%s, %d cabinets, transforms %s%s)"
              % (folder, identity["PRODUCT_PACKAGE"], len(identity["CABINETS"].split()),
                 identity["TRANSFORM_LANGUAGES"],
                 ", update service %s %s" % (version, code) if version else
                 ", no update service"))

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
                     "PAYLOAD_CONTRACT=%s\n"
                     % (version, code, "not checked" if args.unchecked else "met"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
