#!/usr/bin/env python3
"""Talks to SigwellHost as a browser does: starts it, sends each request as
a native-messaging frame and prints each answer.

usage: host_client.py WINE_RUN ARCH HOST_EXE REQUEST_JSON...
"""
import json
import struct
import subprocess
import sys


def exchange(command, requests, timeout=60):
    """Sends each request text as one frame and reads its answer; stops at
    the end of the host's output or at its overflow mark. Returns the
    host's exit code and the answer texts."""
    proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    answers = []
    for request in requests:
        body = request.encode("utf-8")
        proc.stdin.write(struct.pack("<I", len(body)) + body)
        proc.stdin.flush()
        header = proc.stdout.read(4)
        if len(header) < 4:
            break
        (length,) = struct.unpack("<I", header)
        if length == 0xFFFFFFFF:
            break
        answers.append(proc.stdout.read(length).decode("utf-8"))
    proc.stdin.close()
    proc.stdout.close()
    proc.wait(timeout=timeout)
    return proc.returncode, answers


def main():
    command, requests = sys.argv[1:4], sys.argv[4:]
    code, answers = exchange(command, requests)
    for request, answer in zip(requests, answers):
        print("request: " + request)
        print("answer:  " + answer)
    return code


if __name__ == "__main__":
    sys.exit(main())
