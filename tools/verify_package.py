#!/usr/bin/env python3
"""Checks <package>.sig beside each package as the program checks it: exactly
the six lines of update/signature.h, the file's own name, the release's
version, its size and SHA-256, and an ECDSA P-256 signature that holds against
the public key built into a program file (or given as a PEM file).

    verify_package.py --built-into Merovane.exe [--built-into ...] --version 1.2.3.4 PACKAGE...
    verify_package.py --public-key key.pub.pem --version 1.2.3.4 PACKAGE...

Every program named must carry the same key. Exits 1 naming the first package
that does not check; openssl does the verifying."""

import argparse
import base64
import hashlib
import pathlib
import re
import subprocess
import sys
import tempfile

PREFIXES = ["Merovane-Signature: ", "File: ", "Version: ", "Size: ", "SHA-256: ", "Signature: "]
PEM = re.compile(rb"-----BEGIN PUBLIC KEY-----\n[A-Za-z0-9+/=\n]+?-----END PUBLIC KEY-----\n")
VERSION = re.compile(r"^[0-9]{1,9}(\.[0-9]{1,9}){0,3}$")


class Refused(Exception):
    pass


def built_in_key(program: pathlib.Path) -> bytes:
    keys = set(PEM.findall(program.read_bytes()))
    if len(keys) != 1:
        raise Refused(f"{program}: {len(keys)} public keys built in, not one")
    return keys.pop()


def parse(sig: bytes):
    """The six values and the signed text, as the program's parser takes them."""
    if len(sig) > 4096:
        raise Refused("larger than 4 KB")
    values, position, signed_end = [], 0, 0
    for index, prefix in enumerate(PREFIXES):
        last = index == len(PREFIXES) - 1
        end = sig.find(b"\n", position)
        if end < 0:
            if not last or position >= len(sig):
                raise Refused("too few lines")
            end = len(sig)
        elif last and end + 1 != len(sig):
            raise Refused("text after the signature line")
        line = sig[position:end]
        if line.endswith(b"\r") and end != len(sig):
            line = line[:-1]
        if not line.startswith(prefix.encode()) or any(b < 0x20 or b == 0x7F for b in line):
            raise Refused(f"line {index + 1} is not '{prefix.strip()}'")
        value = line[len(prefix):].decode("utf-8")
        if not value or value != value.strip(" "):
            raise Refused(f"line {index + 1} has no value or blanks around it")
        values.append(value)
        if last:
            signed_end = position
        position = end + 1
    if values[0] != "1" or any(c in values[1] for c in "\\/:") or not VERSION.match(values[2]):
        raise Refused("format, file name or version not accepted")
    if not re.fullmatch(r"0|[1-9][0-9]*", values[3]) or not re.fullmatch(r"[0-9a-f]{64}", values[4]):
        raise Refused("size or SHA-256 not accepted")
    raw = base64.b64decode(values[5], validate=True)
    if len(raw) != 64 or base64.b64encode(raw).decode() != values[5]:
        raise Refused("signature is not 64 bytes of strict base64")
    return values, sig[:signed_end], raw


def der_integer(value: bytes) -> bytes:
    value = value.lstrip(b"\0") or b"\0"
    if value[0] & 0x80:
        value = b"\0" + value
    return bytes([0x02, len(value)]) + value


def verify(pem: bytes, text: bytes, raw: bytes) -> bool:
    body = der_integer(raw[:32]) + der_integer(raw[32:])
    with tempfile.TemporaryDirectory() as folder:
        paths = {name: pathlib.Path(folder) / name for name in ("key.pem", "text", "sig.der")}
        paths["key.pem"].write_bytes(pem)
        paths["text"].write_bytes(text)
        paths["sig.der"].write_bytes(bytes([0x30, len(body)]) + body)
        result = subprocess.run(["openssl", "dgst", "-sha256", "-verify", str(paths["key.pem"]),
                                 "-signature", str(paths["sig.der"]), str(paths["text"])],
                                capture_output=True)
    return result.returncode == 0


def version_parts(version: str) -> list:
    parts = [int(part) for part in version.split(".")]
    return parts + [0] * (4 - len(parts))


def check(package: pathlib.Path, version: str, pem: bytes) -> None:
    sig = package.with_name(package.name + ".sig")
    if not sig.is_file():
        raise Refused(f"{sig.name} is missing")
    values, text, raw = parse(sig.read_bytes())
    if not verify(pem, text, raw):
        raise Refused("the signature does not hold against the built-in key")
    data = package.read_bytes()
    if values[1] != package.name:
        raise Refused(f"signed for {values[1]}")
    if version_parts(values[2]) != version_parts(version):
        raise Refused(f"signed for version {values[2]}, not {version}")
    if int(values[3]) != len(data) or values[4] != hashlib.sha256(data).hexdigest():
        raise Refused("size or SHA-256 differ from the file")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    keys = parser.add_mutually_exclusive_group(required=True)
    keys.add_argument("--built-into", action="append", type=pathlib.Path, metavar="PROGRAM")
    keys.add_argument("--public-key", type=pathlib.Path, metavar="PEM")
    parser.add_argument("--version", required=True)
    parser.add_argument("packages", nargs="+", type=pathlib.Path)
    args = parser.parse_args()
    try:
        if args.public_key:
            pem = args.public_key.read_bytes().replace(b"\r\n", b"\n")
        else:
            found = {built_in_key(program) for program in args.built_into}
            if len(found) != 1:
                raise Refused("the programs carry different keys")
            pem = found.pop()
    except Refused as error:
        print(f"refused: {error}", file=sys.stderr)
        return 1
    for package in args.packages:
        try:
            check(package, args.version, pem)
        except (Refused, ValueError) as error:
            print(f"{package.name}.sig refused: {error}", file=sys.stderr)
            return 1
        print(f"verified {package.name}.sig")
    return 0


if __name__ == "__main__":
    sys.exit(main())
