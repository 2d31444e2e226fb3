"""What the host's session tests share: the native-messaging frame both
ways, error codes as the answers carry them, paths as Wine sees them, and
openssl's check of an SM2 signature."""
import json
import os
import struct
import subprocess

# The signer ID of every SM2 signature here.
SM2_ID = "1234567812345678"


def code(value):
    """An HRESULT as the answer's signed "errorcode"."""
    return value - (1 << 32) if value & 0x80000000 else value


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def send(proc, body):
    """Sends one request body to the host process."""
    proc.stdin.write(struct.pack("<I", len(body)) + body)
    proc.stdin.flush()


def receive(proc):
    """The host's next answer as an object (it must be UTF-8 JSON), or None
    when the host's output ended first."""
    header = proc.stdout.read(4)
    if len(header) < 4:
        return None
    (length,) = struct.unpack("<I", header)
    return json.loads(proc.stdout.read(length).decode("utf-8"))


def exchange(proc, body):
    send(proc, body)
    answer = receive(proc)
    if answer is None:
        raise AssertionError("the host ended without an answer")
    return answer


def sm2_verifies(public_key_pem, data, signature, work_dir):
    """openssl's verdict on an SM2 signature over SM3 with the Z value."""
    data_path = os.path.join(work_dir, "data.bin")
    signature_path = os.path.join(work_dir, "sig.der")
    with open(data_path, "wb") as f:
        f.write(data)
    with open(signature_path, "wb") as f:
        f.write(signature)
    return subprocess.run(["openssl", "dgst", "-sm3", "-verify", public_key_pem, "-sigopt", "distid:" + SM2_ID,
                           "-signature", signature_path, data_path], capture_output=True).returncode == 0
