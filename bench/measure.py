#!/usr/bin/env python3
"""Runs a command several times as a whole process and prints its median wall
time in milliseconds and its peak resident size in kB, separated by a space.
Output of the command is discarded; a run that fails makes the measurement
fail. The peak comes from one more run under /usr/bin/time: a child forked
from this interpreter would report the interpreter's own size.

usage: measure.py RUNS COMMAND [ARGS...]
"""
import os, statistics, subprocess, sys, tempfile, time

def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    runs = int(sys.argv[1])
    command = sys.argv[2:]
    times = []
    with open(os.devnull, 'wb') as null:
        for _ in range(runs):
            start = time.perf_counter()
            status = subprocess.call(command, stdout=null, stderr=null)
            times.append((time.perf_counter() - start) * 1000)
            if status != 0:
                sys.exit('measure.py: %s failed' % ' '.join(command))
        with tempfile.NamedTemporaryFile('r') as report:
            subprocess.call(['/usr/bin/time', '-f', '%M', '-o', report.name] + command,
                            stdout=null, stderr=null)
            peak = report.read().strip().splitlines()[-1]
    print('%.1f %s' % (statistics.median(times), peak))

main()
