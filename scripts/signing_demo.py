#!/usr/bin/env python3
"""The main job's session: talks to SigwellHost as a page does through the
browser, selects the signing certificate of a provider, reads its fields,
signs a sample text as PKCS#1 and as PKCS#7 SignedData, and checks with the
native openssl the certificate against its CA and both signatures against
the certificate.

usage: signing_demo.py WINE_RUN ARCH HOST_EXE PROVIDER CA_CERT_DER WORK_DIR
"""
import base64
import json
import os
import subprocess
import sys

import host_client

SAMPLE_TEXT = "Sigwell sample: pay 100 \u5143 to \u00c9mile"
SM2_ID = "1234567812345678"


def exchange(command, requests):
    texts = [json.dumps(request, ensure_ascii=False) for request in requests]
    _, answers = host_client.exchange(command, texts, timeout=120)
    for text, answer in zip(texts, answers):
        print("request: " + text)
        print("answer:  " + answer)
    return [json.loads(answer) for answer in answers]


def verify_sm2(label, public_key, signature, work_dir):
    data = os.path.join(work_dir, "sample.txt")
    sig = os.path.join(work_dir, "sample.pkcs1.der")
    with open(data, "wb") as f:
        f.write(SAMPLE_TEXT.encode("utf-8"))
    with open(sig, "wb") as f:
        f.write(signature)
    result = subprocess.run(["openssl", "dgst", "-sm3", "-verify", public_key, "-sigopt",
                             "distid:" + SM2_ID, "-signature", sig, data],
                            capture_output=True, text=True)
    print("openssl dgst (%s): %s" % (label, (result.stdout + result.stderr).strip()))
    return result.returncode == 0


def last_octet_string(der):
    """openssl's listing of the structure, and the SignerInfo's encrypted
    digest: the last OCTET STRING in it."""
    listing = subprocess.run(["openssl", "asn1parse", "-inform", "DER"], input=der,
                             capture_output=True, check=True).stdout.decode()
    last = [line for line in listing.splitlines() if "OCTET STRING" in line][-1]
    return listing, bytes.fromhex(last.split("[HEX DUMP]:")[1])


def verify_pkcs7(public_key, signed_data, work_dir):
    listing, signature = last_octet_string(signed_data)
    print("openssl asn1parse (PKCS#7):")
    print(listing.rstrip())
    if SAMPLE_TEXT.encode("utf-8") not in signed_data:
        print("the attached content is missing")
        return False
    return verify_sm2("PKCS#7 signer", public_key, signature, work_dir)


def certificate_public_key(cert_der, ca_der, work_dir):
    """The certificate's public key, once openssl has found the certificate
    issued by the CA (SM2 certificates are checked with the default ID)."""
    pem = {}
    for name, der in (("cert", cert_der), ("ca", ca_der)):
        pem[name] = os.path.join(work_dir, name + ".pem")
        subprocess.run(["openssl", "x509", "-inform", "DER", "-out", pem[name]], input=der, check=True)
    verdict = subprocess.run(["openssl", "verify", "-vfyopt", "distid:" + SM2_ID, "-CAfile", pem["ca"],
                              pem["cert"]], capture_output=True, text=True)
    print("openssl verify (certificate): " + (verdict.stdout + verdict.stderr).strip())
    if verdict.returncode != 0:
        return None
    public_key = os.path.join(work_dir, "signer_pub.pem")
    subprocess.run(["openssl", "x509", "-in", pem["cert"], "-pubkey", "-noout", "-out", public_key], check=True)
    return public_key


def main():
    wine_run, arch, host, provider, ca_cert, work_dir = sys.argv[1:7]
    requests = [
        {"function": "GetVersion", "params": []},
        {"function": "SelectCertificate", "params": ["", "", "", provider]},
    ]
    requests += [{"function": "GetSignCertInfo", "params": [info]}
                 for info in ("SubjectDN", "SubjectCN", "SerialNumber", "CertType",
                              "CSPName", "ValidFrom", "ValidTo", "CertContent")]
    requests += [
        {"function": "SignMsgPKCS1", "params": [SAMPLE_TEXT, ""]},
        {"function": "SignMsgPKCS7", "params": [SAMPLE_TEXT, "", True]},
        {"function": "GetLastErrorDesc", "params": []},
    ]
    answers = exchange([wine_run, arch, host], requests)
    if len(answers) != len(requests) or any(a["errorcode"] != 0 for a in answers):
        print("the host did not answer every request with success")
        return 1
    cert = base64.b64decode(answers[-4]["result"])
    pkcs1 = base64.b64decode(answers[-3]["result"])
    pkcs7 = base64.b64decode(answers[-2]["result"])
    with open(ca_cert, "rb") as f:
        public_key = certificate_public_key(cert, f.read(), work_dir)
    ok = (public_key is not None and verify_sm2("PKCS#1", public_key, pkcs1, work_dir) and
          verify_pkcs7(public_key, pkcs7, work_dir))
    print("signatures verified" if ok else "verification FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
