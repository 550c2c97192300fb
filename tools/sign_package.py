#!/usr/bin/env python3
"""Writes <package>.sig beside an update package: the lines the program checks,
then an ECDSA P-256 signature over the SHA-256 of every byte before the
"Signature:" line, as base64 of r||s (32 bytes each).

    sign_package.py --key private.pem --version 1.2.3.4 PACKAGE [PACKAGE...]

The key is a PEM EC private key on prime256v1; openssl does the signing, so
nothing but the standard library and the openssl command is needed."""

import argparse
import base64
import hashlib
import os
import pathlib
import subprocess
import sys
import tempfile


def der_to_raw(der: bytes) -> bytes:
    """An ASN.1 SEQUENCE { INTEGER r, INTEGER s } as 64 bytes r||s."""
    def read_length(data: bytes, at: int):
        first = data[at]
        if first < 0x80:
            return first, at + 1
        count = first & 0x7F
        return int.from_bytes(data[at + 1:at + 1 + count], "big"), at + 1 + count

    if der[0] != 0x30:
        raise ValueError("not a DER sequence")
    _, at = read_length(der, 1)
    numbers = []
    for _ in range(2):
        if der[at] != 0x02:
            raise ValueError("not a DER integer")
        length, at = read_length(der, at + 1)
        value = int.from_bytes(der[at:at + length], "big")
        at += length
        numbers.append(value.to_bytes(32, "big"))
    return numbers[0] + numbers[1]


def signed_text(package: pathlib.Path, version: str) -> bytes:
    data = package.read_bytes()
    lines = [
        "Merovane-Signature: 1",
        f"File: {package.name}",
        f"Version: {version}",
        f"Size: {len(data)}",
        f"SHA-256: {hashlib.sha256(data).hexdigest()}",
    ]
    return ("\n".join(lines) + "\n").encode("utf-8")


def sign(text: bytes, key: pathlib.Path) -> bytes:
    with tempfile.TemporaryDirectory() as folder:
        body = pathlib.Path(folder) / "body"
        body.write_bytes(text)
        der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", str(key), str(body)],
                             check=True, capture_output=True).stdout
    return der_to_raw(der)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--key", required=True, type=pathlib.Path)
    parser.add_argument("--version", required=True)
    parser.add_argument("packages", nargs="+", type=pathlib.Path)
    args = parser.parse_args()
    for package in args.packages:
        text = signed_text(package, args.version)
        signature = base64.b64encode(sign(text, args.key)).decode("ascii")
        out = package.with_name(package.name + ".sig")
        out.write_bytes(text + f"Signature: {signature}\n".encode("ascii"))
        print(f"signed {package.name} -> {out.name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
