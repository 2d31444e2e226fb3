// Throw-away self-signed certificates made with OpenSSL for the dialog's
// tests, with the names, serial and validity each case needs.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

struct TestCertificateFields {
    // "CN=beta" or "O=Org/CN=Name": name entries separated by '/'; an
    // empty issuer repeats the subject.
    std::string subject = "CN=Dialog Test";
    std::string issuer;
    long serial = 1;
    // ASN.1 GeneralizedTime texts, e.g. "20191231190000Z".
    std::string notBefore = "20240101000000Z";
    std::string notAfter = "20340101000000Z";
};

// A context of its own; the caller frees it.
PCCERT_CONTEXT MakeTestCertificate(const TestCertificateFields& fields);

// Frees every context when the test ends.
class TestCertificates {
public:
    ~TestCertificates();
    PCCERT_CONTEXT Add(const TestCertificateFields& fields);
    PCCERT_CONTEXT Add(const std::string& subject);

private:
    std::vector<PCCERT_CONTEXT> m_certs;
};
