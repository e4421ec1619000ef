#!/usr/bin/env python3
"""Runs a command several times as a whole process and prints its median wall
time in milliseconds, its peak resident size in kB and its processor time
(user + system) in milliseconds, separated by spaces. Output of the command is
discarded; a run that fails makes the measurement fail (exit 1, "n/a n/a n/a").
The peak and the processor time come from one more run under /usr/bin/time: a
child forked from this interpreter would report the interpreter's own size.

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
                print('n/a n/a n/a')
                sys.exit(1)
        with tempfile.NamedTemporaryFile('r') as report:
            subprocess.call(['/usr/bin/time', '-f', '%M %U %S', '-o', report.name] + command,
                            stdout=null, stderr=null)
            peak, user, system = report.read().strip().splitlines()[-1].split()
    print('%.1f %s %.0f' % (statistics.median(times), peak,
                            (float(user) + float(system)) * 1000))

main()
