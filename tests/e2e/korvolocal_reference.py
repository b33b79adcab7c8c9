#!/usr/bin/env python3
"""Reference reader and writer for .korvolocal files, written from the format table alone.

    korvolocal_reference.py seal KEYHEX INPUT OUTPUT
    korvolocal_reference.py open KEYHEX INPUT OUTPUT

Exit status 0 on success, 3 when the file is not valid, 4 when the cryptography package is missing.
"""
import os
import struct
import sys

try:
    from cryptography.exceptions import InvalidTag
    from cryptography.hazmat.primitives.ciphers.aead import AESGCM
except ImportError:  # pragma: no cover
    sys.exit(4)

HEADER = b"KORVOLOCAL" + b"\x01"
CHUNK = 1 << 20
MAX_SEALED = CHUNK + 64


def aad(index, final):
    return HEADER + struct.pack(">Q", index) + (b"\x01" if final else b"\x00")


def seal(key, src, dst):
    gcm = AESGCM(key)
    data = open(src, "rb").read()
    chunks = [data[i:i + CHUNK] for i in range(0, len(data), CHUNK)] or [b""]
    with open(dst, "wb") as out:
        out.write(HEADER)
        for i, chunk in enumerate(chunks):
            final = i == len(chunks) - 1
            nonce = os.urandom(12)
            box = nonce + gcm.encrypt(nonce, chunk, aad(i, final))
            out.write((b"\x01" if final else b"\x00") + struct.pack(">I", len(box)) + box)


class Invalid(Exception):
    pass


def open_file(key, src, dst):
    gcm = AESGCM(key)
    data = open(src, "rb").read()
    if data[:11] != HEADER:
        raise Invalid("header")
    pos, index, plain = 11, 0, []
    while True:
        if pos + 5 > len(data):
            raise Invalid("truncated prefix")
        flag = data[pos]
        (length,) = struct.unpack(">I", data[pos + 1:pos + 5])
        if flag not in (0, 1) or length == 0 or length > MAX_SEALED or length < 28:
            raise Invalid("bad prefix")
        box = data[pos + 5:pos + 5 + length]
        if len(box) < length:
            raise Invalid("truncated box")
        try:
            plain.append(gcm.decrypt(box[:12], box[12:], aad(index, flag == 1)))
        except InvalidTag:
            raise Invalid("tag")
        pos += 5 + length
        index += 1
        if flag == 1:
            break
    if pos != len(data):
        raise Invalid("trailing bytes")
    with open(dst, "wb") as out:
        out.write(b"".join(plain))


def main(argv):
    if len(argv) != 5 or argv[1] not in ("seal", "open"):
        print(__doc__, file=sys.stderr)
        return 2
    key = bytes.fromhex(argv[2])
    try:
        (seal if argv[1] == "seal" else open_file)(key, argv[3], argv[4])
    except Invalid as error:
        print("invalid: %s" % error, file=sys.stderr)
        return 3
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
