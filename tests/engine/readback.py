#!/usr/bin/env python3
"""Reads one stored file of an engine backup back with Python's own modules
and prints what it found as JSON, for the engine tests to compare.

  readback.py zip FILE OUT    the archive's entries; the first one goes to OUT
  readback.py gzip FILE OUT   the gzip header's name and time; the data go to OUT
  readback.py mail FILE DIR   a received message: its text body, and each
                              attachment saved to DIR under its file name
"""
import gzip
import json
import os
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


def read_mail(path, folder):
    from email import policy
    from email.parser import BytesParser

    with open(path, "rb") as f:
        message = BytesParser(policy=policy.default).parse(f)
    body = message.get_body(preferencelist=("plain",))
    attachments = []
    for part in message.iter_attachments():
        name = part.get_filename()
        target = os.path.join(folder, os.path.basename(name))
        with open(target, "wb") as f:
            f.write(part.get_payload(decode=True))
        attachments.append({"name": name, "type": part.get_content_type(), "path": target})
    return {"subject": str(message["Subject"]), "body": body.get_content() if body else None,
            "attachments": attachments}


def main():
    kind, path, out = sys.argv[1:4]
    readers = {"zip": read_zip, "gzip": read_gzip, "mail": read_mail}
    print(json.dumps(readers[kind](path, out)))


if __name__ == "__main__":
    main()
