#!/usr/bin/env python3
"""Whole sessions with SigwellHost under Wine, started as a browser starts
it, against the test provider (testcsp.dll) registered under two provider
names. Signatures are checked with the native openssl: the structure with
asn1parse, the SM2 signature over SM3 with the Z value with dgst.

usage: signing_session_test.py WINE_RUN ARCH HOST_EXE TESTCSP_DLL CERT_SCRIPT WORK_DIR
"""
import base64
import datetime
import json
import os
import re
import shutil
import subprocess
import sys
import unittest

from host_session import SM2_ID, code, exchange, sm2_verifies, windows_path

WINE_RUN, ARCH, HOST_EXE, TESTCSP_DLL, CERT_SCRIPT, WORK_DIR = sys.argv[1:7]
PROVIDER_A = "Sigwell Session Token A"
PROVIDER_B = "Sigwell Session Token B"
PROVIDER_KEY = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Cryptography\\Defaults\\Provider\\"

# Wine's CertNameToStrW quotes a value holding a comma despite the
# no-quoting flag; Windows gives O=Alpha, Bank.
ALICE_DN = 'CN=Alice Signer, O="Alpha, Bank", C=CN'

OID_SIGNED_DATA = "1.2.156.10197.6.1.4.2.2"
OID_DATA = "1.2.156.10197.6.1.4.2.1"
OID_SM3 = "1.2.156.10197.1.401"
OID_SM2_SIGN = "1.2.156.10197.1.301.1"


def certs(name):
    return os.path.join(WORK_DIR, "certs", name)


def run(*args, **kwargs):
    return subprocess.run(args, check=True, capture_output=True, **kwargs).stdout


# --- DER --------------------------------------------------------------------

def read_tlv(data, pos=0):
    tag = data[pos]
    length = data[pos + 1]
    pos += 2
    if length & 0x80:
        count = length & 0x7F
        length = int.from_bytes(data[pos:pos + count], "big")
        pos += count
    return tag, data[pos:pos + length], pos + length


def children(value):
    items, pos = [], 0
    while pos < len(value):
        tag, inner, end = read_tlv(value, pos)
        items.append((tag, inner, value[pos:end]))
        pos = end
    return items


def oid_der(dotted):
    parts = [int(p) for p in dotted.split(".")]
    body = bytearray([parts[0] * 40 + parts[1]])
    for part in parts[2:]:
        chunk = [part & 0x7F]
        part >>= 7
        while part:
            chunk.insert(0, 0x80 | (part & 0x7F))
            part >>= 7
        body.extend(chunk)
    return bytes(body)


def algorithm(dotted):
    """AlgorithmIdentifier { OID, NULL } as the value of its SEQUENCE."""
    oid = oid_der(dotted)
    return bytes([0x06, len(oid)]) + oid + b"\x05\x00"


def is_minimal_integer(value):
    if not value:
        return False
    if value[0] & 0x80:
        return False
    return not (len(value) > 1 and value[0] == 0 and not value[1] & 0x80)


# --- the host ---------------------------------------------------------------

def session(requests, tz="UTC"):
    """One host process, the requests in order, the answers as objects; a
    callable among the requests runs between two of them."""
    return raw_session([r if callable(r) else
                        json.dumps({"function": r[0], "params": r[1]}).encode("utf-8")
                        for r in requests], tz)


def raw_session(bodies, tz="UTC"):
    """The request bodies as they are; the answers must be UTF-8 JSON."""
    env = dict(os.environ, TZ=tz, SIGWELL_TESTCSP_CONFIG=windows_path(config_path()))
    proc = subprocess.Popen([WINE_RUN, ARCH, HOST_EXE], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, env=env)
    answers = []
    for body in bodies:
        if callable(body):
            body()
        else:
            answers.append(exchange(proc, body))
    proc.stdin.close()
    proc.stdout.close()
    assert proc.wait(timeout=120) == 0
    return answers


def config_path():
    return os.path.join(WORK_DIR, "providers.cfg")


def write_config(lines):
    with open(config_path(), "w") as f:
        f.write("\n".join(lines) + "\n")


def key(provider, container, key_spec, cert, private_key, flags=""):
    return "key|%s|%s|%d|%s|%s|%s" % (provider, container, key_spec,
                                      windows_path(certs(cert)),
                                      windows_path(certs(private_key)), flags)


def register_providers(remove=False):
    lines = ["REGEDIT4", ""]
    for name in (PROVIDER_A, PROVIDER_B):
        if remove:
            lines += ["[-%s%s]" % (PROVIDER_KEY, name), ""]
        else:
            dll = windows_path(TESTCSP_DLL).replace("\\", "\\\\")
            lines += ["[%s%s]" % (PROVIDER_KEY, name), '"Image Path"="%s"' % dll,
                      '"Type"=dword:00000001', ""]
    reg = os.path.join(WORK_DIR, "remove.reg" if remove else "providers.reg")
    with open(reg, "w") as f:
        f.write("\r\n".join(lines))
    # The 32-bit regedit writes the registry view the 32-bit host reads.
    run(WINE_RUN, ARCH, "regedit", "/S", windows_path(reg))


def make_second_sm2_certificate():
    """A second SM2 signer whose validity runs past 2038."""
    cnf = certs("second.cnf")
    with open(cnf, "w") as f:
        f.write("[req]\ndistinguished_name = dn\n[dn]\n")
    run("openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:SM2",
        "-out", certs("sm2b.key"))
    run("openssl", "req", "-config", cnf, "-x509", "-new", "-key", certs("sm2b.key"), "-sm3",
        "-set_serial", "0xA1B2", "-subj", "/C=CN/O=Gamma Trust/CN=Bruce Second",
        "-days", "9000", "-sigopt", "distid:" + SM2_ID,
        "-addext", "keyUsage=digitalSignature", "-outform", "DER", "-out", certs("sm2b.der"))


def setUpModule():
    shutil.rmtree(WORK_DIR, ignore_errors=True)
    os.makedirs(WORK_DIR)
    run("bash", CERT_SCRIPT, certs(""))
    make_second_sm2_certificate()
    for name in ("sm2", "sm2b"):
        run("openssl", "x509", "-inform", "DER", "-in", certs(name + ".der"), "-pubkey",
            "-noout", "-out", certs(name + "_pub.pem"))
    register_providers()


def tearDownModule():
    register_providers(remove=True)


def two_tokens():
    """Token A: Alice's SM2 key, an RSA key beside it, two key identifiers
    never asked for here; token B: Bruce's SM2 key."""
    write_config([
        "container|%s|alice" % PROVIDER_A,
        key(PROVIDER_A, "alice", 2, "sm2.der", "sm2.key"),
        "container|%s|bob" % PROVIDER_A,
        key(PROVIDER_A, "bob", 2, "rsa_sign.der", "rsa.key"),
        "keyid|%s|TOKEN-A-0001" % PROVIDER_A,
        "container|%s|bruce" % PROVIDER_B,
        key(PROVIDER_B, "bruce", 1, "sm2b.der", "sm2b.key"),
        "keyid|%s|TOKEN-B-0001" % PROVIDER_B,
        "keyid|%s|TOKEN-B-0002" % PROVIDER_B,
    ])


def select(subject="", issuer="", serial="", csp=PROVIDER_A + "||" + PROVIDER_B):
    return ("SelectCertificate", [subject, issuer, serial, csp])


def verify_sm2(cert, data, signature):
    return sm2_verifies(certs(cert + "_pub.pem"), data, signature, WORK_DIR)


def openssl_date(cert, which, hours_east=0):
    text = run("openssl", "x509", "-inform", "DER", "-in", certs(cert), "-noout",
               "-" + which).decode().strip().split("=", 1)[1]
    when = datetime.datetime.strptime(text, "%b %d %H:%M:%S %Y GMT")
    when += datetime.timedelta(hours=hours_east)
    return when.strftime("%Y-%m-%d %H:%M:%S")


class SM2Session(unittest.TestCase):
    TEXT = "Pay 100 \u5143 to \u00c9mile"

    @classmethod
    def setUpClass(cls):
        two_tokens()
        cls.answers = session([
            select(subject="alice"),
            ("GetSignCertInfo", ["SubjectDN"]),
            ("GetSignCertInfo", ["SubjectCN"]),
            ("GetSignCertInfo", ["SerialNumber"]),
            ("GetSignCertInfo", ["certtype"]),
            ("GetSignCertInfo", ["IssuerDN"]),
            ("GetSignCertInfo", ["CSPName"]),
            ("GetSignCertInfo", ["ValidFrom"]),
            ("GetSignCertInfo", ["ValidTo"]),
            ("GetSignCertInfo", ["CertContent"]),
            ("SignMsgPKCS1", [cls.TEXT, ""]),
            ("SignMsgPKCS7", [cls.TEXT, "", True]),
            ("SignMsgPKCS7", [cls.TEXT, "", {"param": False}]),
            ("GetSignCertInfo", ["Colour"]),
            ("GetLastErrorDesc", []),
        ])

    def result(self, index):
        answer = self.answers[index]
        self.assertEqual(0, answer["errorcode"], answer)
        return answer["result"]

    def test_selection_through_provider_list_and_subject_filter(self):
        self.assertEqual({"function": "SelectCertificate", "errorcode": 0, "result": True},
                         self.answers[0])

    def test_certificate_fields(self):
        with open(certs("sm2.der"), "rb") as f:
            der = f.read()
        self.assertEqual(ALICE_DN, self.result(1))
        self.assertEqual("Alice Signer", self.result(2))
        self.assertEqual("0123abcd", self.result(3))
        self.assertEqual("SM2", self.result(4))
        self.assertEqual(ALICE_DN, self.result(5))
        self.assertEqual(PROVIDER_A, self.result(6))
        self.assertEqual(openssl_date("sm2.der", "startdate"), self.result(7))
        self.assertEqual(openssl_date("sm2.der", "enddate"), self.result(8))
        self.assertEqual(base64.b64encode(der).decode(), self.result(9))

    def test_pkcs1_signature_is_der_and_verifies(self):
        signature = base64.b64decode(self.result(10))
        tag, value, end = read_tlv(signature)
        self.assertEqual((0x30, len(signature)), (tag, end))
        for item_tag, item, _ in children(value):
            self.assertEqual(0x02, item_tag)
            self.assertTrue(is_minimal_integer(item), item.hex())
        self.assertTrue(verify_sm2("sm2", self.TEXT.encode("utf-8"), signature))

    def check_signed_data(self, text, attached):
        der = base64.b64decode(text)
        # openssl reads the whole structure.
        with open(os.path.join(WORK_DIR, "p7.der"), "wb") as f:
            f.write(der)
        run("openssl", "asn1parse", "-inform", "DER", "-in", os.path.join(WORK_DIR, "p7.der"))

        tag, outer, end = read_tlv(der)
        self.assertEqual((0x30, len(der)), (tag, end))
        (oid_tag, oid, _), (explicit_tag, explicit, _) = children(outer)
        self.assertEqual((0x06, oid_der(OID_SIGNED_DATA)), (oid_tag, oid))
        self.assertEqual(0xA0, explicit_tag)
        (sd_tag, signed_data, _), = children(explicit)
        self.assertEqual(0x30, sd_tag)
        version, digests, content_info, certificates, signer_infos = children(signed_data)
        self.assertEqual(b"\x02\x01\x01", version[2])
        self.assertEqual(b"\x31\x0e\x30\x0c" + algorithm(OID_SM3), digests[2])

        content = children(content_info[1])
        self.assertEqual(bytes([0x06, len(oid_der(OID_DATA))]) + oid_der(OID_DATA), content[0][2])
        message = self.TEXT.encode("utf-8")
        if attached:
            self.assertEqual(2, len(content))
            self.assertEqual(0xA0, content[1][0])
            (octet_tag, octets, _), = children(content[1][1])
            self.assertEqual((0x04, message), (octet_tag, octets))
        else:
            self.assertEqual(1, len(content))

        with open(certs("sm2.der"), "rb") as f:
            self.assertEqual(f.read(), certificates[1])
        (_, signer, _), = children(signer_infos[1])
        s_version, issuer_serial, digest_alg, sign_alg, encrypted = children(signer)
        self.assertEqual(b"\x02\x01\x01", s_version[2])
        issuer, serial = children(issuer_serial[1])
        self.assertEqual(bytes.fromhex("0123abcd"), serial[1])
        self.assertEqual(algorithm(OID_SM3), digest_alg[1])
        self.assertEqual(algorithm(OID_SM2_SIGN), sign_alg[1])
        self.assertEqual(0x04, encrypted[0])
        self.assertTrue(verify_sm2("sm2", message, encrypted[1]))

    def test_pkcs7_attached(self):
        self.check_signed_data(self.result(11), attached=True)

    def test_pkcs7_detached(self):
        self.check_signed_data(self.result(12), attached=False)

    def test_unknown_info_type_and_its_description(self):
        self.assertEqual({"function": "GetSignCertInfo", "errorcode": code(0x80070057),
                          "result": False}, self.answers[13])
        self.assertTrue(self.result(14).endswith("\n(0x80070057)"), self.answers[14])


class Selection(unittest.TestCase):
    def setUp(self):
        two_tokens()

    def test_two_matching_certificates_select_none(self):
        answers = session([
            select(subject="Signer#Second"),
            ("GetLastErrorDesc", []),
            ("GetSignCertInfo", ["CertType"]),
        ])
        self.assertEqual(code(0xA0071110), answers[0]["errorcode"])
        self.assertIs(False, answers[0]["result"])
        self.assertEqual("The number of certificate in store is too many.\n(0xa0071110)",
                         answers[1]["result"])
        self.assertEqual(code(0xA0072001), answers[2]["errorcode"])

    def test_filters_narrow_the_candidates(self):
        answers = session([
            select(serial="0123ABCD"),
            ("GetSignCertInfo", ["SubjectCN"]),
            select(issuer="gamma trust"),
            ("GetSignCertInfo", ["SubjectCN"]),
            ("GetSignCertInfo", ["SerialNumber"]),
            ("GetSignCertInfo", ["CSPName"]),
            ("GetSignCertInfo", ["ValidTo"]),
            select(csp=PROVIDER_B + "||"),
            ("GetSignCertInfo", ["SubjectCN"]),
            select(serial="A1B2"),
            select(subject="Nobody"),
            ("GetSignCertInfo", ["SubjectCN"]),
            select(csp=""),
            select(csp="||" + PROVIDER_A),
        ])
        results = [(a["errorcode"], a.get("result")) for a in answers]
        self.assertEqual((0, True), results[0])
        self.assertEqual((0, "Alice Signer"), results[1])
        self.assertEqual((0, True), results[2])
        self.assertEqual((0, "Bruce Second"), results[3])
        self.assertEqual((0, "00a1b2"), results[4])
        self.assertEqual((0, PROVIDER_B), results[5])
        # Past 2038: the date must not wrap.
        self.assertEqual((0, openssl_date("sm2b.der", "enddate")), results[6])
        self.assertTrue(results[6][1].startswith("20"), results[6])
        self.assertGreater(int(results[6][1][:4]), 2038)
        self.assertEqual((0, True), results[7])
        self.assertEqual((0, "Bruce Second"), results[8])
        # The serial filter must carry the encoding's leading zero byte.
        self.assertEqual((code(0xA0071001), False), results[9])
        self.assertEqual((code(0xA0071001), False), results[10])
        # A failed selection drops the previous one.
        self.assertEqual((code(0xA0072001), False), results[11])
        self.assertEqual((code(0xA0071001), False), results[12])
        self.assertEqual((code(0xA0071001), False), results[13])

    def test_a_signature_of_the_wrong_size_is_refused(self):
        write_config([
            "container|%s|alice" % PROVIDER_A,
            key(PROVIDER_A, "alice", 2, "sm2.der", "sm2.key", "sig65"),
        ])
        answers = session([
            select(csp=PROVIDER_A),
            ("SignMsgPKCS1", ["text", ""]),
            ("SignMsgPKCS7", ["text", "", True]),
        ])
        self.assertEqual(0, answers[0]["errorcode"])
        self.assertEqual(code(0x8007000D), answers[1]["errorcode"])
        self.assertEqual(code(0x8007000D), answers[2]["errorcode"])


class Refusals(unittest.TestCase):
    """Requests refused before anything is signed, each described by the next
    GetLastErrorDesc."""
    E_INVALIDARG = code(0x80070057)

    def setUp(self):
        two_tokens()

    def test_texts_not_exactly_as_sent(self):
        answers = raw_session([
            json.dumps({"function": "SelectCertificate", "params": ["alice", "", "", PROVIDER_A]}).encode(),
            json.dumps({"function": "SignMsgPKCS7",
                        "params": ["Pay 100 to Alice\u0000 and 900000 to Mallory", "", True]}).encode(),
            b'{"function":"SignMsgPKCS1","params":["A\xff\xfeB",""]}',
            b'{"function":"GetLastErrorDesc","params":[]}',
            # An escaped backslash before u0000 is text like any other.
            json.dumps({"function": "SignMsgPKCS1", "params": ["\\u0000", ""]}).encode(),
        ])
        self.assertEqual(0, answers[0]["errorcode"])
        self.assertEqual((self.E_INVALIDARG, False), (answers[1]["errorcode"], answers[1]["result"]))
        self.assertEqual(self.E_INVALIDARG, answers[2]["errorcode"])
        self.assertTrue(answers[3]["result"].endswith("(0x80070057)"), answers[3])
        self.assertTrue(verify_sm2("sm2", b"\\u0000", base64.b64decode(answers[4]["result"])))

    def test_refused_parameters(self):
        answers = session([
            ("SignMsgPKCS7", ["text", ""]),
            ("GetLastErrorDesc", []),
            ("SignMsgPKCS7", ["text", "", "true"]),
            ("GetLastErrorDesc", []),
        ])
        self.assertEqual(-1, answers[0]["errorcode"])
        self.assertTrue(answers[1]["result"].endswith("(0xffffffff)"), answers[1])
        self.assertEqual(code(0xA0073204), answers[2]["errorcode"])
        self.assertTrue(answers[3]["result"].endswith("(0xa0073204)"), answers[3])

    def test_attached_signature_too_long_for_one_frame(self):
        answers = session([
            select(subject="alice"),
            ("SignMsgPKCS7", ["x" * 800 * 1024, "", True]),
            ("SignMsgPKCS7", ["x" * 780000, "", True]),
        ])
        self.assertEqual(self.E_INVALIDARG, answers[1]["errorcode"])
        self.assertEqual(0, answers[2]["errorcode"])
        self.assertLessEqual(len(json.dumps(answers[2], separators=(",", ":"))), 1 << 20)

    def test_a_swapped_token_signs_nothing(self):
        """Token A's certificate is selected, then a token whose container has
        the same name takes its place."""
        def swap(certificate, private_key):
            return lambda: write_config([
                "container|%s|alice" % PROVIDER_A,
                key(PROVIDER_A, "alice", 2, certificate, private_key),
            ])
        answers = session([
            select(subject="alice"),
            swap("sm2b.der", "sm2b.key"),
            ("SignMsgPKCS7", ["text", "", True]),
            ("SignMsgPKCS1", ["text", ""]),
            swap("", "sm2.key"),
            ("SignMsgPKCS1", ["text", ""]),
            swap("sm2.der", "sm2.key"),
            ("SignMsgPKCS1", ["text", ""]),
        ])
        self.assertEqual(0, answers[0]["errorcode"])
        for answer in answers[1:4]:
            self.assertEqual(code(0xA0072001), answer["errorcode"], answer)
        self.assertEqual(0, answers[4]["errorcode"])


class KeyIdentifiers(unittest.TestCase):
    def test_one_two_and_none(self):
        two_tokens()
        answers = session([
            ("GetKeyID", [PROVIDER_A]),
            ("GetKeyID", [PROVIDER_B]),
            ("GetLastErrorDesc", []),
        ])
        self.assertEqual({"function": "GetKeyID", "errorcode": 0, "result": "TOKEN-A-0001"},
                         answers[0])
        self.assertEqual(code(0xA0071111), answers[1]["errorcode"])
        self.assertEqual("More than one Key be inserted.\n(0xa0071111)", answers[2]["result"])

        write_config(["container|%s|empty" % PROVIDER_A])
        answers = session([("GetKeyID", [PROVIDER_A])])
        self.assertEqual(code(0x8010000C), answers[0]["errorcode"])

    def test_identifier_longer_than_the_size_answer(self):
        write_config(["container|%s|empty" % PROVIDER_A, "shortkeyids|%s" % PROVIDER_A,
                      "keyid|%s|VK0000000000000000000024" % PROVIDER_A])
        answers = session([("GetKeyID", [PROVIDER_A])])
        self.assertEqual({"function": "GetKeyID", "errorcode": 0,
                          "result": "VK0000000000000000000024"}, answers[0])


class SilentFailures(unittest.TestCase):
    """A provider call that fails without a last error is a failure, never a
    success or a crash."""
    E_FAIL = code(0x80004005)

    def silent(self, entry_point):
        two_tokens()
        with open(config_path(), "a") as f:
            f.write("silentfail|%s|%s\n" % (PROVIDER_A, entry_point))

    def test_key_identifier(self):
        for entry_point in ("CPAcquireContext", "CPGetProvParam"):
            self.silent(entry_point)
            answers = session([("GetKeyID", [PROVIDER_A]), ("GetLastErrorDesc", [])])
            self.assertEqual({"function": "GetKeyID", "errorcode": self.E_FAIL, "result": False},
                             answers[0], entry_point)
            self.assertTrue(answers[1]["result"].endswith("(0x80004005)"), answers[1])

    def test_certificate_search_finds_nothing(self):
        for entry_point in ("CPAcquireContext", "CPGetProvParam", "CPGetUserKey",
                            "CPGetKeyParam"):
            self.silent(entry_point)
            answers = session([select(csp=PROVIDER_A)])
            self.assertEqual(code(0xA0071001), answers[0]["errorcode"], entry_point)

    def test_signing(self):
        for entry_point in ("CPCreateHash", "CPHashData", "CPGetHashParam", "CPSignHash"):
            self.silent(entry_point)
            answers = session([
                select(csp=PROVIDER_A),
                ("SignMsgPKCS1", ["text", ""]),
                ("SignMsgPKCS7", ["text", "", True]),
            ])
            self.assertEqual(0, answers[0]["errorcode"], entry_point)
            for answer in answers[1:]:
                self.assertEqual(self.E_FAIL, answer["errorcode"], (entry_point, answer))
                self.assertIs(False, answer["result"])


class Other(unittest.TestCase):
    def test_dates_in_the_local_time_zone(self):
        two_tokens()
        answers = session([
            select(subject="alice"),
            ("GetSignCertInfo", ["ValidFrom"]),
            ("GetSignCertInfo", ["ValidTo"]),
        ], tz="Asia/Shanghai")
        self.assertEqual(openssl_date("sm2.der", "startdate", 8), answers[1]["result"])
        self.assertEqual(openssl_date("sm2.der", "enddate", 8), answers[2]["result"])

    def test_answers_are_utf8_whatever_the_request_carries(self):
        write_config([])
        answers = raw_session([
            b'{"function":"Get\xffVersion","params":[],"randomId":"r\xc3"}',
            b'{"function":"GetVersion","params":[],"randomId":"\xed\xa0\x80!"}',
            b'{"function":"GetKeyID","params":["\xc0\xaf"]}',
        ])
        self.assertEqual("Get\ufffdVersion", answers[0]["function"])
        self.assertEqual("r\ufffd", answers[0]["randomId"])
        self.assertEqual(code(0x8009002D), answers[0]["errorcode"])
        self.assertEqual({"function": "GetVersion", "errorcode": 0, "result": "3.4.0.6",
                          "randomId": "\ufffd\ufffd\ufffd!"}, answers[1])
        self.assertEqual("GetKeyID", answers[2]["function"])

    def test_version_mac_list_and_check_host(self):
        write_config([])
        answers = session([
            ("GetVersion", []),
            ("GetMACAddress", []),
            ("checkHost", []),
        ])
        self.assertEqual("3.4.0.6", answers[0]["result"])
        self.assertEqual(0, answers[1]["errorcode"])
        self.assertRegex(answers[1]["result"],
                         r"^$|^[0-9a-f]{2}(-[0-9a-f]{2}){5}(\|[0-9a-f]{2}(-[0-9a-f]{2}){5})*$")
        self.assertEqual({"function": "CheckHost", "errorcode": 0, "result": 0}, answers[2])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
