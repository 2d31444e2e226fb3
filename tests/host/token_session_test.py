#!/usr/bin/env python3
"""The whole road: SigwellHost under Wine, started as a browser starts it,
selects the certificate of a simulated token through KeltoCSP and signs;
the PIN is typed into the provider's real dialog by the UI driver, as a
person would. openssl checks the certificate against the token CA and the
signatures against the certificate. Wrong PINs, a cancelled dialog and a
blocked PIN give their errors and the host keeps answering.

usage: token_session_test.py WINE_RUN HOST_EXE TOKENSIM_EXE PIN_DRIVER_EXE VENDOR_DIR WORK_DIR
"""
import base64
import json
import os
import shutil
import subprocess
import sys
import threading
import unittest

from host_session import SM2_ID, code, receive, send, sm2_verifies, windows_path

WINE_RUN, HOST_EXE, TOKENSIM_EXE, PIN_DRIVER, VENDOR_DIR, WORK_DIR = sys.argv[1:7]
PROVIDER = "VESK FOR LORVIN CSP v1.1.0"
SERIAL = "VKE2E0000001"
SECOND_SERIAL = "VKE2E0000002"
PIN = "12345678"
TEXT = "Pay 100 \u5143 to \u00c9mile"

ERROR_CANCELLED = 0x800704C7
ERROR_PIN_LOCKED = 0x800700D4
SCARD_W_CHV_BLOCKED = 0x8010006C
# How long the host may still take to answer once the driver has failed.
DRIVER_FAILED_GRACE_S = 30


def work(name):
    return os.path.join(WORK_DIR, name)


def environment():
    env = dict(os.environ)
    env["SIGWELL_TOKENSIM_STATE"] = windows_path(work("tokens.json"))
    # The provider loads the vendor library by name, as installed on PATH.
    env["WINEPATH"] = windows_path(VENDOR_DIR)
    return env


def tokensim(*args):
    subprocess.run([WINE_RUN, "i686", TOKENSIM_EXE] + list(args), env=environment(), check=True,
                   stdin=subprocess.DEVNULL, capture_output=True)


class Host:
    """One host process; requests are sent one at a time."""

    def __init__(self):
        self.proc = subprocess.Popen([WINE_RUN, "i686", HOST_EXE], env=environment(),
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def ask(self, function, *params, driver_steps=None):
        driver = None
        if driver_steps:
            driver = subprocess.Popen([WINE_RUN, "i686", PIN_DRIVER, "--timeout", "30"] + driver_steps.split(),
                                      env=environment(), stdin=subprocess.DEVNULL,
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        body = json.dumps({"function": function, "params": list(params)}).encode()
        send(self.proc, body)
        answered = threading.Event()
        if driver:
            threading.Thread(target=self.end_if_unanswered, args=(driver, answered), daemon=True).start()
        answer = receive(self.proc)
        answered.set()
        driven = None
        if driver:
            out = driver.communicate(timeout=60)[0].decode("utf-8", "replace")
            driven = (driver.returncode, out)
        if answer is None:
            raise AssertionError("no answer to %s; driver: %s" % (function, driven))
        return answer, driven

    def end_if_unanswered(self, driver, answered):
        """A driver that gave up leaves the provider's dialog up and the
        host waiting in it: the host is ended, so that the case fails with
        the driver's output instead of hanging until the run's time-out."""
        driver.wait()
        if driver.returncode != 0 and not answered.wait(DRIVER_FAILED_GRACE_S):
            self.proc.kill()

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=60)
        return self.proc.returncode


def verify_sm2(cert_pem, data, signature):
    public_key = work("token_pub.pem")
    subprocess.run(["openssl", "x509", "-in", cert_pem, "-pubkey", "-noout", "-out", public_key], check=True)
    return sm2_verifies(public_key, data, signature, WORK_DIR)


def signer_signature(signed_data):
    listing = subprocess.run(["openssl", "asn1parse", "-inform", "DER"], input=signed_data,
                             capture_output=True, check=True).stdout.decode()
    last = [line for line in listing.splitlines() if "OCTET STRING" in line][-1]
    return bytes.fromhex(last.split("[HEX DUMP]:")[1])


def setUpModule():
    shutil.rmtree(WORK_DIR, ignore_errors=True)
    os.makedirs(WORK_DIR)
    tokensim("create", "--serial", SERIAL, "--user-pin", PIN, "--tries", "3")
    tokensim("genkey", "--serial", SERIAL, "--alg", "sm2")
    tokensim("cert", "--serial", SERIAL, "--cn", "Token Signer")
    tokensim("ca", "--out", windows_path(work("ca.der")))


class TokenSession(unittest.TestCase):
    """The cases run in order in one host, as one page's session would."""

    @classmethod
    def setUpClass(cls):
        cls.host = Host()

    @classmethod
    def tearDownClass(cls):
        status = cls.host.close()
        if status != 0:
            raise AssertionError("the host ended with %d" % status)

    def ok(self, answer):
        self.assertEqual(answer["errorcode"], 0, answer)
        return answer["result"]

    def sign(self, function, *params, steps):
        answer, (status, out) = self.host.ask(function, *params, driver_steps=steps)
        self.assertEqual(status, 0, out)
        return answer, out

    def test_1_selects_the_token_certificate_issued_by_the_token_ca(self):
        self.assertIs(self.ok(self.host.ask("SelectCertificate", "", "", "", PROVIDER)[0]), True)
        self.assertEqual(self.ok(self.host.ask("GetSignCertInfo", "CSPName")[0]), PROVIDER)
        self.assertEqual(self.ok(self.host.ask("GetSignCertInfo", "CertType")[0]), "SM2")
        self.assertEqual(self.ok(self.host.ask("GetSignCertInfo", "SubjectCN")[0]), "Token Signer")
        der = base64.b64decode(self.ok(self.host.ask("GetSignCertInfo", "CertContent")[0]))
        with open(work("cert.der"), "wb") as f:
            f.write(der)
        subprocess.run(["openssl", "x509", "-inform", "DER", "-in", work("cert.der"), "-out", work("cert.pem")],
                       check=True)
        subprocess.run(["openssl", "x509", "-inform", "DER", "-in", work("ca.der"), "-out", work("ca.pem")],
                       check=True)
        verdict = subprocess.run(["openssl", "verify", "-vfyopt", "distid:" + SM2_ID, "-CAfile", work("ca.pem"),
                                  work("cert.pem")], capture_output=True, text=True)
        self.assertEqual(verdict.returncode, 0, verdict.stdout + verdict.stderr)

    def test_2_pkcs1_with_the_typed_pin(self):
        shot = windows_path(work("pin_dialog.bmp"))
        answer, _ = self.sign("SignMsgPKCS1", TEXT, "", steps="pin type=%s shot=%s ok gone" % (PIN, shot))
        signature = base64.b64decode(self.ok(answer))
        self.assertTrue(verify_sm2(work("cert.pem"), TEXT.encode(), signature))

    def test_3_pkcs7_attached_after_one_wrong_pin(self):
        answer, out = self.sign("SignMsgPKCS7", TEXT, "", True,
                                steps="pin type=11111111 ok message pin type=%s ok gone" % PIN)
        self.assertIn("2 times", out)
        signed_data = base64.b64decode(self.ok(answer))
        self.assertIn(TEXT.encode(), signed_data)
        self.assertTrue(verify_sm2(work("cert.pem"), TEXT.encode(), signer_signature(signed_data)))

    def test_4_cancel_is_an_error_and_the_host_goes_on(self):
        answer, _ = self.sign("SignMsgPKCS1", TEXT, "", steps="pin cancel gone")
        self.assertEqual(answer["errorcode"], code(ERROR_CANCELLED))
        self.assertIs(answer["result"], False)
        self.assertIn("(0x800704c7)", self.ok(self.host.ask("GetLastErrorDesc")[0]))
        # The selection survives the failed signature.
        self.assertEqual(self.ok(self.host.ask("GetSignCertInfo", "SubjectCN")[0]), "Token Signer")

    def test_5_three_wrong_pins_block_the_token(self):
        answer, _ = self.sign("SignMsgPKCS1", TEXT, "",
                              steps="pin type=11111111 ok message pin type=11111111 ok message "
                                    "pin type=11111111 ok message gone")
        # Blocked in the dialog is no cancel.
        self.assertEqual(answer["errorcode"], code(SCARD_W_CHV_BLOCKED))
        # Blocked: refused before any window.
        answer, _ = self.host.ask("SignMsgPKCS1", TEXT, "")
        self.assertEqual(answer["errorcode"], code(ERROR_PIN_LOCKED))
        self.assertEqual(self.ok(self.host.ask("GetVersion")[0]), "3.4.0.6")


class TwoTokens(unittest.TestCase):
    """A second token made alike, its certificate in a container of the same
    name; runs after TokenSession, which leaves the first token blocked."""

    def test_each_certificate_is_found_once_and_signs_on_its_own_token(self):
        tokensim("create", "--serial", SECOND_SERIAL, "--user-pin", PIN)
        tokensim("genkey", "--serial", SECOND_SERIAL, "--alg", "sm2")
        tokensim("cert", "--serial", SECOND_SERIAL, "--cn", "Second Signer")
        host = Host()
        for name in ("Token Signer", "Second Signer"):
            self.assertIs(host.ask("SelectCertificate", name, "", "", PROVIDER)[0]["result"], True, name)
        answer, (status, out) = host.ask("SignMsgPKCS1", TEXT, "", driver_steps="pin type=%s ok gone" % PIN)
        self.assertEqual((status, answer["errorcode"]), (0, 0), out)
        with open(work("second.der"), "wb") as f:
            f.write(base64.b64decode(host.ask("GetSignCertInfo", "CertContent")[0]["result"]))
        subprocess.run(["openssl", "x509", "-inform", "DER", "-in", work("second.der"), "-out", work("second.pem")],
                       check=True)
        self.assertTrue(verify_sm2(work("second.pem"), TEXT.encode(), base64.b64decode(answer["result"])))
        self.assertEqual(host.close(), 0)


class HostExit(unittest.TestCase):
    """A browser that closes the host's input after a selection sees the
    host end at once, every time."""

    def test_twenty_sessions_exit_within_five_seconds(self):
        slow = []
        for run in range(20):
            host = Host()
            answer, _ = host.ask("SelectCertificate", "", "", "", PROVIDER)
            self.assertEqual(answer["errorcode"], 0, answer)
            host.proc.stdin.close()
            try:
                host.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                slow.append(run)
                host.proc.kill()
                host.proc.wait()
        self.assertEqual(slow, [])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
