# SPDX-License-Identifier: MIT
"""Starts several commands at the same moment and waits for them all.

    python3 start_together.py ROUNDS JSON

JSON is a list of argv lists, one per command. In each of ROUNDS rounds every
command is forked first and held on a pipe, then all are released at once,
so that they really overlap. Prints one JSON object: "rounds", a list per
round of {"status", "stdout", "stderr"} per command, and "seconds", the time
from the release to the last exit of each round.
"""

import json
import os
import sys
import tempfile
import time


def _child(argv, release, out, err):
    try:
        os.dup2(out.fileno(), 1)
        os.dup2(err.fileno(), 2)
        os.read(release, 1)
        os.execvp(argv[0], argv)
    finally:
        os._exit(127)


def start_together(argvs):
    """One round: the commands' results and the batch's time in seconds."""
    release, go = os.pipe()
    children = []
    for argv in argvs:
        out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        pid = os.fork()
        if pid == 0:
            os.close(go)
            _child(argv, release, out, err)
        children.append((pid, out, err))
    os.close(release)
    start = time.perf_counter()
    os.write(go, b"x" * len(argvs))
    os.close(go)
    results = []
    for pid, out, err in children:
        _, status = os.waitpid(pid, 0)
        texts = []
        for stream in (out, err):
            stream.seek(0)
            texts.append(stream.read().decode(errors="replace"))
            stream.close()
        results.append({"status": os.waitstatus_to_exitcode(status),
                        "stdout": texts[0], "stderr": texts[1]})
    return results, time.perf_counter() - start


def main():
    rounds, argvs = int(sys.argv[1]), json.loads(sys.argv[2])
    report = {"rounds": [], "seconds": []}
    for _ in range(rounds):
        results, seconds = start_together(argvs)
        report["rounds"].append(results)
        report["seconds"].append(seconds)
    print(json.dumps(report))


if __name__ == "__main__":
    main()
