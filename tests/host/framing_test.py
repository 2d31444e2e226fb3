#!/usr/bin/env python3
"""Frames through real pipes: drives a host whose responder echoes each
request, so that what goes out mirrors what came in.

usage: framing_test.py WINE_RUN ARCH HOST_EXE
"""
import struct
import subprocess
import sys
import time
import unittest

HOST = sys.argv[1:]
MAX_ANSWER = 1048576
END_MARKER = b"\xff\xff\xff\xff"
# An exit code of -1 reaches a Unix parent as 255.
EXIT_FAILED = 255


def frame(body):
    return struct.pack("<I", len(body)) + body


class Host:
    def __init__(self):
        self.proc = subprocess.Popen(HOST, stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def send(self, data, pause=0.0):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()
        if pause:
            time.sleep(pause)

    def read_frame(self):
        header = self.read_exactly(4)
        (length,) = struct.unpack("<I", header)
        return self.read_exactly(length)

    def read_exactly(self, count):
        data = b""
        while len(data) < count:
            chunk = self.proc.stdout.read(count - len(data))
            if not chunk:
                raise AssertionError("host closed its output after %d of %d bytes" % (len(data), count))
            data += chunk
        return data

    def finish(self):
        self.proc.stdin.close()
        rest = self.proc.stdout.read()
        return self.proc.wait(timeout=60), rest


def run_whole(stdin_bytes):
    proc = subprocess.run(HOST, input=stdin_bytes, stdout=subprocess.PIPE, timeout=120)
    return proc.returncode, proc.stdout


class EndOfConversation(unittest.TestCase):
    def test_input_closed_at_once(self):
        self.assertEqual(run_whole(b""), (0, b""))

    def test_zero_and_all_ones_length_end_without_answer(self):
        for word in (b"\x00\x00\x00\x00", END_MARKER):
            with self.subTest(word=word.hex()):
                self.assertEqual(run_whole(word + frame(b'{"a":1}')), (0, b""))

    def test_input_ending_inside_length_word_fails(self):
        for piece in (b"\x05", b"\x05\x00", b"\x05\x00\x00"):
            with self.subTest(piece=piece.hex()):
                code, out = run_whole(piece)
                self.assertEqual(code, EXIT_FAILED)
                self.assertEqual(out, b"")

    def test_input_ending_inside_body_fails(self):
        code, out = run_whole(b"\x0a\x00\x00\x00abc")
        self.assertEqual(code, EXIT_FAILED)
        self.assertEqual(out, b"")


class Frames(unittest.TestCase):
    def test_requests_answered_in_order_one_at_a_time(self):
        host = Host()
        for text in (b'{"n":1}', b'{"n":2}', b'{"n":3}'):
            host.send(frame(text))
            self.assertEqual(host.read_frame(), text)
        self.assertEqual(host.finish(), (0, b""))

    def test_length_word_and_body_in_pieces(self):
        host = Host()
        body = b'{"function":"GetVersion"}'
        data = frame(body)
        host.send(data[:1], 0.2)
        host.send(data[1:3], 0.2)
        host.send(data[3:10], 0.2)
        host.send(data[10:])
        self.assertEqual(host.read_frame(), body)
        self.assertEqual(host.finish(), (0, b""))

    def test_length_word_is_little_endian(self):
        code, out = run_whole(frame(b"x" * 300))
        self.assertEqual(code, 0)
        self.assertEqual(out[:4], b"\x2c\x01\x00\x00")
        self.assertEqual(len(out), 304)

    def test_body_with_nul_is_text_up_to_the_nul(self):
        self.assertEqual(run_whole(frame(b"ab\x00cd")), (0, frame(b"ab")))

    def test_largest_answer_is_a_normal_frame(self):
        body = b"a" * MAX_ANSWER
        code, out = run_whole(frame(body))
        self.assertEqual(code, 0)
        self.assertEqual(len(out), MAX_ANSWER + 4)
        self.assertEqual(out[:4], struct.pack("<I", MAX_ANSWER))

    def test_answer_over_limit_becomes_marker_and_ends(self):
        code, out = run_whole(frame(b"a" * (MAX_ANSWER + 1)) + frame(b"{}"))
        self.assertEqual(code, EXIT_FAILED)
        self.assertEqual(out, END_MARKER)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
