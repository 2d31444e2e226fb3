#!/usr/bin/env python3
"""make_ca_chains.py OUTDIR: the two CA-chain resources of the plug-in.

The real CA certificates are deployment data that this tree does not
carry, so the build makes test hierarchies of the same shape with the
native openssl: each resource has three self-signed roots (written as
serialized store elements for the root store's registry key) and a PKCS#7
bundle with the roots and their intermediates (8 in the operation chain,
7 in the test chain). Beside each XML file a manifest lists the SHA-1
thumbprints: "root <thumbprint>" and "ca <thumbprint>" lines.
"""
import base64
import hashlib
import os
import struct
import subprocess
import sys
import tempfile

CRLF = "\r\n"
ROOT_STORE_PATH = r"SOFTWARE\Microsoft\SystemCertificates\ROOT\Certificates"
LRM = "\u200e"


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Ca:
    def __init__(self, work, name, subject, serial, issuer=None):
        self.subject = subject
        self.serial = serial
        key, cert = name + ".key", name + ".pem"
        openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", key,
                cwd=work)
        subj = "/" + "/".join(reversed([part.strip().replace(" = ", "=")
                                        for part in subject.split(",")]))
        common = ["-sha256", "-set_serial", "0x" + serial, "-subj", subj]
        if issuer is None:
            openssl("req", "-config", "req.cnf", "-x509", "-new", "-key", key, "-days", "7300",
                    "-addext", "basicConstraints=critical,CA:TRUE",
                    "-addext", "subjectKeyIdentifier=hash", "-out", cert, *common,
                    cwd=work)
        else:
            openssl("req", "-config", "req.cnf", "-new", "-key", key, "-out", name + ".csr",
                    *common, cwd=work)
            with open(os.path.join(work, name + ".ext"), "w") as f:
                f.write("basicConstraints=critical,CA:TRUE,pathlen:0\n"
                        "subjectKeyIdentifier=hash\n")
            openssl("x509", "-req", "-in", name + ".csr", "-CA", issuer.pem, "-CAkey",
                    issuer.key, "-set_serial", "0x" + serial, "-days", "3650", "-sha256",
                    "-extfile", name + ".ext", "-out", cert, cwd=work)
        openssl("x509", "-in", cert, "-outform", "DER", "-out", name + ".der", cwd=work)
        openssl("pkey", "-in", key, "-pubout", "-outform", "DER", "-out", name + ".pub",
                cwd=work)
        self.key, self.pem = key, cert
        self.der = read(os.path.join(work, name + ".der"))
        self.pub = read(os.path.join(work, name + ".pub"))
        self.thumbprint = hashlib.sha1(self.der).hexdigest().upper()
        self.key_id = subject_key_id(os.path.join(work, cert), work)


def subject_key_id(cert, work):
    """The subject key identifier, which the platform also keeps as the
    certificate's key-identifier property; chain building matches it with
    the authority key identifier of the certificates below."""
    text = subprocess.run(["openssl", "x509", "-in", cert, "-noout", "-ext",
                           "subjectKeyIdentifier"], cwd=work, check=True,
                          capture_output=True, text=True).stdout
    return bytes.fromhex(text.splitlines()[1].strip().replace(":", ""))


def element(ca):
    """The serialized store element: properties 92, 3, 25, 20, 15, 4, 32."""
    properties = [
        (92, struct.pack("<I", 2048)),
        (3, hashlib.sha1(ca.der).digest()),
        (25, hashlib.md5(ca.pub).digest()),
        (20, ca.key_id),
        (15, hashlib.md5(ca.der).digest()),
        (4, hashlib.md5(ca.der).digest()),
        (32, ca.der),
    ]
    return b"".join(struct.pack("<III", pid, 1, len(value)) + value for pid, value in properties)


def base64_lines(data, indent):
    text = base64.b64encode(data).decode()
    lines = [text[i:i + 76] for i in range(0, len(text), 76)]
    return CRLF.join(indent + line for line in lines)


def make_chain(work, out, prefix, title, n_intermediates, mark_serials):
    roots = [Ca(work, f"{prefix}root{i}", f"CN = Sigwell {title} Root CA {i}, O = Sigwell Lorvin, C = CN",
                f"{0x51A0 + i:X}") for i in range(1, 4)]
    cas = [Ca(work, f"{prefix}ca{i}", f"CN = Sigwell {title} CA {i}, O = Sigwell Lorvin, C = CN",
              f"{0x7C10 + i:x}", roots[i % 3]) for i in range(1, n_intermediates + 1)]
    with open(os.path.join(work, prefix + "bundle.pem"), "w") as f:
        for ca in roots + cas:
            f.write(open(os.path.join(work, ca.pem)).read())
    openssl("crl2pkcs7", "-nocrl", "-certfile", prefix + "bundle.pem", "-outform", "DER",
            "-out", prefix + "bundle.p7b", cwd=work)
    bundle = read(os.path.join(work, prefix + "bundle.p7b"))

    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             f"<!-- Sigwell {title} certificate chain -->",
             "<!-- Generated for the plug-in build from test certificates -->",
             "<root>", "  <RootCACertificate>"]
    for root in roots:
        serial = (LRM if mark_serials else "") + root.serial
        lines += [f'    <Certificate SerialNum ="{serial}" SubjectDN="{root.subject}">',
                  f"      <ImportPath>{ROOT_STORE_PATH}</ImportPath>",
                  f"      <EntryPoint>{root.thumbprint}</EntryPoint>",
                  "      <Content>", base64_lines(element(root), "        "),
                  "      </Content>", "    </Certificate>"]
    lines += ["  </RootCACertificate>", "  <P7bContent>", base64_lines(bundle, "    "),
              "  </P7bContent>", "</root>"]
    with open(os.path.join(out, f"ca_chain_{prefix.rstrip('_')}.xml"), "wb") as f:
        f.write((CRLF.join(lines) + CRLF).encode("utf-8"))
    with open(os.path.join(out, f"ca_chain_{prefix.rstrip('_')}.txt"), "w") as f:
        for root in roots:
            f.write(f"root {root.thumbprint}\n")
        for ca in cas:
            f.write(f"ca {ca.thumbprint}\n")


def main():
    out = os.path.abspath(sys.argv[1])
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, "req.cnf"), "w") as f:
            f.write("[req]\ndistinguished_name = dn\n[dn]\n")
        make_chain(work, out, "operation_", "Operation", 8, False)
        make_chain(work, out, "test_", "Test", 7, True)


if __name__ == "__main__":
    main()
