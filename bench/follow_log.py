#!/usr/bin/env python3
"""Follows the launcher's log without costing the run it measures.

Usage: follow_log.py LOG_DIR START_LINE END_LINE...

Prints "ready" once started; then waits for the first *.txt file in LOG_DIR,
reads only what is appended to it, and prints the times (seconds since the
epoch) of the first line holding START_LINE and of the first line holding
any END_LINE, then exits. A benchmark that forked grep and sleep every
50 ms took a quarter of a core from the window it timed.
"""
import os
import sys
import time

POLL_SECONDS = 0.01
# A launcher that never gets there fails the benchmark instead of hanging it.
GIVE_UP_SECONDS = 600


def wait():
    if time.monotonic() - STARTED > GIVE_UP_SECONDS:
        sys.exit("follow_log.py: gave up waiting for the launcher's log")
    time.sleep(POLL_SECONDS)


def log_file(folder):
    while True:
        try:
            names = sorted(n for n in os.listdir(folder) if n.endswith(".txt"))
        except FileNotFoundError:
            names = []
        if names:
            return os.path.join(folder, names[0])
        wait()


def lines(path):
    pending = b""
    with open(path, "rb") as log:
        while True:
            chunk = log.read()
            if not chunk:
                wait()
                continue
            pending += chunk
            *complete, pending = pending.split(b"\n")
            for line in complete:
                yield line.rstrip(b"\r").decode("utf-8", "replace")


def main():
    folder, start_line, end_lines = sys.argv[1], sys.argv[2], sys.argv[3:]
    print("ready", flush=True)
    started = None
    for line in lines(log_file(folder)):
        if started is None and start_line in line:
            started = time.time()
        if any(end in line for end in end_lines):
            print("%.3f %.3f" % (started or time.time(), time.time()), flush=True)
            return


STARTED = time.monotonic()
main()
