#!/usr/bin/env python3
"""Reads one stored file of an engine backup back with Python's own modules
and prints what it found as JSON, for the engine tests to compare.

  readback.py zip FILE OUT    the archive's entries; the first one goes to OUT
  readback.py gzip FILE OUT   the gzip header's name and time; the data go to OUT
"""
import gzip
import json
import struct
import sys
import zipfile


def read_zip(path, out):
    with zipfile.ZipFile(path) as archive:
        infos = archive.infolist()
        result = {
            "names": [i.filename for i in infos],
            "methods": [i.compress_type for i in infos],
            "flags": [i.flag_bits for i in infos],
            "bad": archive.testzip() if all(i.compress_type in (0, 8) for i in infos) else None,
        }
        if infos and infos[0].compress_type in (0, 8):
            with open(out, "wb") as f:
                f.write(archive.read(infos[0]))
    return result


def read_gzip(path, out):
    with open(path, "rb") as f:
        raw = f.read(4096)
    _, _, flags, mtime = struct.unpack_from("<HBBI", raw, 0)
    name = None
    pos = 10
    if flags & 0x04:
        (xlen,) = struct.unpack_from("<H", raw, pos)
        pos += 2 + xlen
    if flags & 0x08:
        end = raw.index(b"\0", pos)
        name = raw[pos:end].decode("utf-8" if raw[9] == 11 else "latin-1")
    with gzip.open(path, "rb") as g, open(out, "wb") as f:
        # Reading to the end makes the module check CRC-32 and length.
        f.write(g.read())
    return {"name": name, "mtime": mtime}


def main():
    kind, path, out = sys.argv[1:4]
    result = read_zip(path, out) if kind == "zip" else read_gzip(path, out)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
