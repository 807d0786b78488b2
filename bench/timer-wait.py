#!/usr/bin/env python3
"""Runs a program and measures how long its main thread sat idle at the start.

    timer-wait.py REPORT COMMAND [ARGUMENT...]

Starts COMMAND, watches its main thread's CPU time (/proc/PID/schedstat,
in ns) every half millisecond until the first idle stretch of at least
0.8 s has ended, and writes "WALL_NS WAIT_NS" into REPORT once COMMAND has
ended: its wall time from start to end, and the length of that stretch.
COMMAND's exit status is passed on. bench/portkeep.sh uses it for Portkeep's
one-second start timer, during which the window waits and does nothing else;
Qt fires that timer anywhere from 0.95 to 1.05 s after it was started, so
"less the timer" takes the stretch actually waited in that run.
"""

import subprocess
import sys
import time

# An idle stretch: the main thread used less than this much CPU time over it.
IDLE_CPU_NS = 2_000_000
LONG_NS = 800_000_000


def cpu_ns(pid):
    with open("/proc/%d/schedstat" % pid) as f:
        return int(f.read().split()[0])


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    report, command = sys.argv[1], sys.argv[2:]
    start = time.monotonic_ns()
    process = subprocess.Popen(command)
    samples = []  # (wall, cpu) of the main thread
    first = 0  # the idle stretch up to now begins at samples[first]
    longest = 0
    try:
        while process.poll() is None:
            samples.append((time.monotonic_ns(), cpu_ns(process.pid)))
            while samples[-1][1] - samples[first][1] >= IDLE_CPU_NS:
                first += 1
            stretch = samples[-1][0] - samples[first][0]
            # Once a long stretch has been cut short by work, it is over.
            if longest >= LONG_NS and stretch < longest:
                break
            longest = max(longest, stretch)
            time.sleep(0.0005)
    except (FileNotFoundError, ProcessLookupError):
        pass
    wait = longest if longest >= LONG_NS else -1
    status = process.wait()
    wall = time.monotonic_ns() - start
    with open(report, "w") as f:
        f.write("%d %d\n" % (wall, wait))
    sys.exit(status)


if __name__ == "__main__":
    main()
