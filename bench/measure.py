#!/usr/bin/env python3
"""Runs a command several times as a whole process and prints its median wall
time in milliseconds and its largest peak resident size in kB (from wait4),
separated by a space. Output of the command is discarded; a run that fails
makes the measurement fail.

usage: measure.py RUNS COMMAND [ARGS...]
"""
import os, statistics, subprocess, sys, time

def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    runs = int(sys.argv[1])
    command = sys.argv[2:]
    times, peak = [], 0
    for _ in range(runs):
        start = time.perf_counter()
        with open(os.devnull, 'wb') as null:
            child = subprocess.Popen(command, stdout=null, stderr=null)
            _, status, usage = os.wait4(child.pid, 0)
        times.append((time.perf_counter() - start) * 1000)
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit('measure.py: %s failed' % ' '.join(command))
        peak = max(peak, usage.ru_maxrss)
    print('%.1f %d' % (statistics.median(times), peak))

main()
