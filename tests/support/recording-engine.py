#!/usr/bin/env python3
"""Stands in for the engine `ardanto` in tests.

Installed as FOLDER/ardanto by RecordingEngine (RecordingEngine.h). Each start
appends one JSON line to FOLDER/calls.jsonl: the arguments, the working folder
and the text of the task file named by the first argument (decoded by its
byte-order mark; null when it cannot be read). Then, while FOLDER/hold exists,
it waits (at most a minute), so that a test can act while "the engine runs".
It exits with the number in FOLDER/exit-code (0 when there is none).
"""

import json
import os
import sys
import time

here = os.path.dirname(os.path.realpath(__file__))


def read_task(name):
    try:
        with open(name, "rb") as f:
            data = f.read()
    except OSError:
        return None
    for mark, codec in ((b"\xff\xfe", "utf-16-le"), (b"\xfe\xff", "utf-16-be"), (b"\xef\xbb\xbf", "utf-8")):
        if data.startswith(mark):
            return data[len(mark):].decode(codec, errors="replace")
    return data.decode("utf-8", errors="replace")


args = sys.argv[1:]
call = {"args": args, "cwd": os.getcwd(), "task": read_task(args[0]) if args else None}
with open(os.path.join(here, "calls.jsonl"), "a", encoding="utf-8") as log:
    log.write(json.dumps(call) + "\n")

deadline = time.monotonic() + 60
while os.path.exists(os.path.join(here, "hold")) and time.monotonic() < deadline:
    time.sleep(0.05)

try:
    with open(os.path.join(here, "exit-code"), encoding="ascii") as f:
        code = int(f.read().strip() or "0")
except OSError:
    code = 0
sys.exit(code)
