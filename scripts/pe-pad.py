#!/usr/bin/env python3
"""Pads a PE program with zeros to a multiple of 8 bytes and writes its checksum again.

Authenticode pads a program to 8 bytes before its signature, and removing the signature
keeps that padding: a program that already ends on the boundary comes back from
`osslsigncode remove-signature` byte for byte, so a signed release can be checked
against an unsigned build.
    pe-pad.py PROGRAM...
"""
import struct
import sys

ALIGNMENT = 8


def checksum_offset(data):
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise ValueError("not a PE program (no MZ header)")
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    if pe + 24 + 68 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE program (no PE header)")
    return pe + 24 + 64  # the optional header's CheckSum, at the same place in PE32 and PE32+


def pe_checksum(data, offset):
    """The image checksum: 16-bit one's-complement-style sum without the field, plus the length."""
    padded = data + b"\0" * (len(data) % 2)
    words = struct.unpack(f"<{len(padded) // 2}H", padded)
    total = sum(words) - words[offset // 2] - words[offset // 2 + 1]
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def pad(path):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    offset = checksum_offset(data)
    data += b"\0" * (-len(data) % ALIGNMENT)
    struct.pack_into("<I", data, offset, pe_checksum(bytes(data), offset))
    with open(path, "wb") as f:
        f.write(data)


def main(paths):
    for path in paths:
        try:
            pad(path)
        except (OSError, ValueError) as error:
            print(f"pe-pad: {path}: {error}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
