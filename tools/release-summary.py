#!/usr/bin/python3
"""Prints the summary of a release build, read from what the build left (the last step of
every link of the product executable):

    release-summary.py EXE --identity FILE --manifest FILE

the release identity, the payload manifest's SHA-256 and the payload's platform, the update
service's identity, whether the executable is signed, by whom (the signing certificate's
subject, read from the signature in the executable) and whether the signature carries a time
stamp (a warning when it does not: Windows stops accepting such a signature when the
certificate expires), and where the executable, the manifest and the identity file are.
Exit code 0; 1 when a file is missing or the executable cannot be read. Needs python3-pefile
and openssl.
"""
import argparse
import hashlib
import os
import subprocess
import sys

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from identity_file import read_identity  # noqa: E402

# DER encodings of the object identifiers of the two kinds of Authenticode time stamp: an
# RFC 3161 one (1.3.6.1.4.1.311.3.3.1) and the older countersignature (1.2.840.113549.1.9.6).
TIME_STAMP_OIDS = (bytes.fromhex("060a2b060104018237030301"),
                   bytes.fromhex("06092a864886f70d010906"))


def signature_of(path):
    """The PKCS#7 signature in the executable's certificate table; None when unsigned."""
    image = pefile.PE(path, fast_load=True)
    entry = image.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    if entry.VirtualAddress == 0 or entry.Size < 8:
        return None
    with open(path, "rb") as f:  # the address of this table is a file offset
        f.seek(entry.VirtualAddress)
        table = f.read(entry.Size)
    length = int.from_bytes(table[0:4], "little")
    return table[8:length]


def signer_subject(signature):
    """The subject of the signing certificate: among the signature's certificates, the one
    that issued none of the others."""
    result = subprocess.run(["openssl", "pkcs7", "-inform", "DER", "-print_certs", "-noout"],
                            input=signature, capture_output=True)
    if result.returncode != 0:
        return "(the certificates cannot be read: openssl exit code %d)" % result.returncode
    certificates = []
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        if line.startswith("subject="):
            certificates.append([line[len("subject="):].strip(), ""])
        elif line.startswith("issuer=") and certificates:
            certificates[-1][1] = line[len("issuer="):].strip()
    issuers = {issuer for subject, issuer in certificates if issuer != subject}
    leaves = [subject for subject, _ in certificates if subject not in issuers]
    return leaves[0] if leaves else "(no certificate)"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("exe")
    parser.add_argument("--identity", required=True)
    parser.add_argument("--manifest", required=True)
    args = parser.parse_args()
    for path in (args.exe, args.identity, args.manifest):
        if not os.path.isfile(path):
            print("release summary: %s not found" % path, file=sys.stderr)
            return 1
    identity = read_identity(args.identity)
    with open(args.manifest, "rb") as f:
        manifest = f.read()
    entries = [line.split() for line in manifest.decode("utf-8").splitlines()
               if line and not line.startswith("#")]
    try:
        signature = signature_of(args.exe)
    except pefile.PEFormatError as error:
        print("release summary: %s: %s" % (args.exe, error), file=sys.stderr)
        return 1

    rows = [
        ("release", "%s (build string %s, manifest version %s)"
         % (identity.get("PRODUCT_VERSION"), identity.get("BUILD_STRING"),
            identity.get("MANIFEST_VERSION"))),
        ("payload", "manifest SHA-256 %s: %d files, %d bytes, platform %s, contract %s"
         % (hashlib.sha256(manifest).hexdigest(), len(entries),
            sum(int(entry[3]) for entry in entries), identity.get("PAYLOAD_PLATFORM") or "unknown",
            identity.get("PAYLOAD_CONTRACT", "?"))),
        ("update service", "%s, product code %s" % (identity["UPDATE_SERVICE_VERSION"],
                                                    identity.get("UPDATE_SERVICE_PRODUCT_CODE"))
         if identity.get("UPDATE_SERVICE_VERSION") else
         "none (UPDATE_SERVICE=%s)" % identity.get("UPDATE_SERVICE", "?")),
    ]
    warnings = []
    if signature is None:
        rows.append(("signature", "NOT signed (no code-signing certificate configured)"))
    else:
        stamped = any(oid in signature for oid in TIME_STAMP_OIDS)
        rows.append(("signature", "signed by %s, %s" % (
            signer_subject(signature), "time-stamped" if stamped else "NOT time-stamped")))
        if not stamped:
            warnings.append("signed without a time stamp: Windows stops accepting the signature "
                            "when the certificate expires (set WRAPPER_SIGN_TIMESTAMP_URL)")
    rows += [("executable", os.path.abspath(args.exe)),
             ("manifest", os.path.abspath(args.manifest)),
             ("identity", os.path.abspath(args.identity))]
    print("== Release summary of %s" % os.path.basename(args.exe))
    for name, value in rows:
        print("   %-15s %s" % (name, value))
    for warning in warnings:
        print("   WARNING: %s" % warning)
    return 0


if __name__ == "__main__":
    sys.exit(main())
