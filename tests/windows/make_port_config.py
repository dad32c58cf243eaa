#!/usr/bin/env python3
"""Writes and reads a sealed port configuration file ("ipportconfig.ini").

    make_port_config.py PATH PRIMARY FURTHER1 FURTHER2 FURTHER3 FURTHER4
    make_port_config.py --read PATH

The record is written from its published layout with Python's own CRC-32 and
an RC4 written here, not with the library's code, so a host reading the file
through Kavex.dll also checks that the library and the format agree. --read
unseals a file the same way, checks its length and CRC-32 and prints
"primary P further F1 F2 F3 F4"; it exits 1, saying why, for an invalid file.
"""
import struct
import sys
import zlib

KEY = b"PtYgj%mU#h/Bel31iEl+2h)\x07q"
RECORD_SIZE = 10432
CRC_OFFSET = RECORD_SIZE - 4


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) % 256
        s[i], s[j] = s[j], s[i]
    i = j = 0
    out = bytearray()
    for byte in data:
        i = (i + 1) % 256
        j = (j + s[i]) % 256
        s[i], s[j] = s[j], s[i]
        out.append(byte ^ s[(s[i] + s[j]) % 256])
    return bytes(out)


def read(path):
    with open(path, "rb") as file:
        sealed = file.read()
    if len(sealed) < RECORD_SIZE:
        sys.exit("%s: %d bytes, a record is %d" % (path, len(sealed), RECORD_SIZE))
    record = rc4(KEY, sealed[:RECORD_SIZE])
    stored = struct.unpack_from("<I", record, CRC_OFFSET)[0]
    if stored != zlib.crc32(record[:CRC_OFFSET]):
        sys.exit("%s: the CRC-32 does not match" % path)
    print("primary %d further %s" % (record[116], " ".join(str(port) for port in record[316:320])))


def main(argv):
    if len(argv) == 3 and argv[1] == "--read":
        read(argv[2])
        return
    if len(argv) != 7:
        sys.exit(__doc__)
    path = argv[1]
    primary, *further = (int(value) for value in argv[2:])
    record = bytearray(RECORD_SIZE)
    struct.pack_into("<7i", record, 88, 5000, 7777, 4500, 4501, 6500, 8001, 2)
    record[116] = primary
    struct.pack_into("<2i", record, 117, 1001, 0)
    record[187] = 2
    record[316:320] = bytes(further)
    struct.pack_into("<I", record, CRC_OFFSET, zlib.crc32(bytes(record[:CRC_OFFSET])))
    with open(path, "wb") as file:
        file.write(rc4(KEY, bytes(record)))


if __name__ == "__main__":
    main(sys.argv)
