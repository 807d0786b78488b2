#!/usr/bin/env python3
"""Generates folder devices for bench/portkeep.sh.

    make-portkeep-device.py files DIR [FILES] [MB]
        A phone-like storage (device.ini with Storages=folder) of FILES files
        (default 10,000) holding about MB megabytes (default 1,000) of
        incompressible data, in some hundred folders: camera folders by
        month, screenshots, music albums, messenger media, documents,
        downloads. Sizes are log-normal (many small files, few large ones),
        scaled to the total; times spread over five years.
    make-portkeep-device.py folders DIR [FOLDERS] [FILES_PER_FOLDER]
        A storage with FOLDERS folders (default 5,000: 50 top folders of 99
        subfolders) and FILES_PER_FOLDER empty files in each (default 4).

The same arguments always give the same tree (fixed random seed).
"""

import os
import random
import sys

START = 1420070400  # 2015-01-01
SPAN = 5 * 365 * 86400


def device_ini(root, name):
    os.makedirs(root)
    with open(os.path.join(root, "device.ini"), "w") as f:
        f.write("[Device]\nFriendlyName=%s\nManufacturer=Bench\nDeviceType=3\nStorages=folder\n" % name)


def phone_folders(rng):
    folders = []
    for year in range(2019, 2024):
        for month in range(1, 13):
            folders.append("DCIM/Camera/%d-%02d" % (year, month))
    folders.append("DCIM/Screenshots")
    for a in range(12):
        for b in range(4):
            folders.append("Music/Artist %02d/Album %d" % (a, b))
    for kind in ("Images", "Video", "Audio", "Documents"):
        for part in range(6):
            folders.append("Messenger/Media/%s/%02d" % (kind, part))
    for d in range(20):
        folders.append("Documents/Project %02d" % d)
    folders += ["Download", "Podcasts", "Recordings", "Movies"]
    return folders


def make_files(root, count, megabytes):
    rng = random.Random(5)
    device_ini(root, "Bench Phone")
    folders = phone_folders(rng)
    for folder in folders:
        os.makedirs(os.path.join(root, folder))
    # Log-normal sizes: median ~20 kB, a long tail of photos and videos.
    raw = [rng.lognormvariate(10.0, 1.9) for _ in range(count)]
    scale = megabytes * 1e6 / sum(raw)
    sizes = [max(1, int(s * scale)) for s in raw]
    pool = rng.randbytes(64 << 20)
    total = 0
    for n, size in enumerate(sizes):
        folder = folders[rng.randrange(len(folders))]
        ext = rng.choice(["jpg", "jpg", "jpg", "mp4", "mp3", "pdf", "txt", "opus", "png"])
        name = os.path.join(root, folder, "FILE_%05d.%s" % (n, ext))
        with open(name, "wb") as f:
            left = size
            while left > 0:
                chunk = min(left, 8 << 20)
                offset = rng.randrange(len(pool) - chunk + 1)
                f.write(pool[offset:offset + chunk])
                left -= chunk
        when = START + rng.randrange(SPAN)
        os.utime(name, (when, when))
        total += size
    print("%d files, %d folders, %d bytes, largest %d, median %d" %
          (count, len(folders), total, max(sizes), sorted(sizes)[count // 2]))


def make_folders(root, count, per_folder):
    rng = random.Random(6)
    device_ini(root, "Bench Archive")
    tops = 50
    subs = max(0, count // tops - 1)
    made = 0
    for t in range(tops):
        top = os.path.join(root, "Album %02d" % t)
        folders = [top] + [os.path.join(top, "Event %03d" % s) for s in range(subs)]
        for folder in folders:
            os.mkdir(folder)
            made += 1
            for f in range(per_folder):
                name = os.path.join(folder, "IMG_%06d_%d.jpg" % (made, f))
                open(name, "wb").close()
                when = START + rng.randrange(SPAN)
                os.utime(name, (when, when))
    print("%d folders, %d files" % (made, made * per_folder))


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("files", "folders"):
        sys.exit(__doc__)
    if sys.argv[1] == "files":
        make_files(sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 10000,
                   int(sys.argv[4]) if len(sys.argv) > 4 else 1000)
    else:
        make_folders(sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 5000,
                     int(sys.argv[4]) if len(sys.argv) > 4 else 4)


if __name__ == "__main__":
    main()
