#!/usr/bin/env python3
"""Reads a gzip file or zip archive back with Python's own modules and prints
what it found as JSON, for the copy-engine tests to compare.

  readback.py gzip FILE [EXPECTED]
  readback.py zip FILE [EXPECTED]

EXPECTED is a file holding the data the archive should contain.
"""
import gzip
import json
import struct
import sys
import zipfile


def same_content(reader, expected):
    if expected is None:
        return None
    with open(expected, "rb") as f:
        while True:
            a = reader.read(1 << 20)
            b = f.read(1 << 20)
            if a != b:
                return False
            if not a:
                return True


def read_gzip(path, expected):
    result = {}
    with gzip.open(path, "rb") as g:
        # Reading to the end makes the module check CRC-32 and length.
        if expected is None:
            while g.read(1 << 20):
                pass
        else:
            result["content_equal"] = same_content(g, expected)
    with open(path, "rb") as f:
        raw = f.read()
    magic, method, flags, mtime, xfl, os_byte = struct.unpack_from("<HBBIBB", raw, 0)
    result.update(magic=magic, method=method, flags=flags, mtime=mtime, xfl=xfl, os=os_byte)
    pos = 10
    if flags & 0x04:
        (xlen,) = struct.unpack_from("<H", raw, pos)
        extra = raw[pos + 2:pos + 2 + xlen]
        pos += 2 + xlen
        result["xlen"] = xlen
        si1, si2, sublen = struct.unpack_from("<BBH", extra, 0)
        result.update(subfield=[si1, si2], sublen=sublen)
        if sublen == 16:
            result["extra_csize"], result["extra_usize"] = struct.unpack_from("<QQ", extra, 4)
    if flags & 0x08:
        end = raw.index(b"\0", pos)
        result["name_hex"] = raw[pos:end].hex()
        pos = end + 1
    result["header_size"] = pos
    result["file_size"] = len(raw)
    result["trailer_crc"], result["trailer_isize"] = struct.unpack_from("<II", raw, len(raw) - 8)
    return result


def read_zip(path, expected):
    result = {}
    with zipfile.ZipFile(path) as z:
        result["testzip"] = z.testzip()
        entries = []
        for info in z.infolist():
            entry = dict(name=info.filename, flag_bits=info.flag_bits, compress_type=info.compress_type,
                         file_size=info.file_size, compress_size=info.compress_size, crc=info.CRC,
                         date_time=list(info.date_time), external_attr=info.external_attr,
                         extract_version=info.extract_version, create_version=info.create_version,
                         create_system=info.create_system, central_extra=info.extra.hex(),
                         header_offset=info.header_offset)
            if expected is not None:
                with z.open(info) as member:
                    entry["content_equal"] = same_content(member, expected)
            entries.append(entry)
        result["entries"] = entries
    with open(path, "rb") as f:
        local = f.read(30)
        (sig, version, flags, method, time, date, crc, csize, usize, nlen, xlen) = struct.unpack(
            "<IHHHHHIIIHH", local)
        name = f.read(nlen)
        extra = f.read(xlen)
    result["local"] = dict(signature=sig, version=version, flags=flags, method=method, time=time, date=date,
                           crc=crc, csize=csize, usize=usize, name_hex=name.hex(), extra=extra.hex())
    return result


def main():
    kind, path = sys.argv[1], sys.argv[2]
    expected = sys.argv[3] if len(sys.argv) > 3 else None
    result = read_gzip(path, expected) if kind == "gzip" else read_zip(path, expected)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
