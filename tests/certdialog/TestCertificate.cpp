#include "TestCertificate.h"

#include "TestCertificateMaker.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <sstream>

namespace {

std::vector<testcsp::NameEntry> EntriesOf(const std::string& entries)
{
    std::vector<testcsp::NameEntry> result;
    std::istringstream parts(entries);
    for (std::string part; std::getline(parts, part, '/');) {
        std::string::size_type equals = part.find('=');
        if (equals == std::string::npos) continue;
        result.push_back({part.substr(0, equals), part.substr(equals + 1)});
    }
    return result;
}

} // namespace

PCCERT_CONTEXT MakeTestCertificate(const TestCertificateFields& fields)
{
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    testcsp::CertificateSpec spec;
    spec.pKey = key;
    spec.subject = EntriesOf(fields.subject);
    spec.issuer = EntriesOf(fields.issuer);
    // A plain string type skips OpenSSL's length limits, so that tests can
    // make names longer than the standard allows.
    spec.nNameType = V_ASN1_UTF8STRING;
    char serialHex[32];
    std::snprintf(serialHex, sizeof serialHex, "%lX", fields.serial);
    spec.serialHex = serialHex;
    spec.notBefore = fields.notBefore;
    spec.notAfter = fields.notAfter;
    const std::vector<unsigned char> der = testcsp::MakeCertificateDer(spec);
    EVP_PKEY_free(key);
    return der.empty() ? nullptr
                       : CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                                      static_cast<DWORD>(der.size()));
}

TestCertificates::~TestCertificates()
{
    for (PCCERT_CONTEXT cert : m_certs) CertFreeCertificateContext(cert);
}

PCCERT_CONTEXT TestCertificates::Add(const TestCertificateFields& fields)
{
    PCCERT_CONTEXT cert = MakeTestCertificate(fields);
    if (cert) m_certs.push_back(cert);
    return cert;
}

PCCERT_CONTEXT TestCertificates::Add(const std::string& subject)
{
    TestCertificateFields fields;
    fields.subject = subject;
    fields.serial = static_cast<long>(m_certs.size()) + 1;
    return Add(fields);
}
