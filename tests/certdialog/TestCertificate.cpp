#include "TestCertificate.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <sstream>

namespace {

void AddEntries(X509_NAME* name, const std::string& entries)
{
    std::istringstream parts(entries);
    for (std::string part; std::getline(parts, part, '/');) {
        std::string::size_type equals = part.find('=');
        if (equals == std::string::npos) continue;
        std::string value = part.substr(equals + 1);
        // A plain string type skips OpenSSL's length limits, so that tests
        // can make names longer than the standard allows.
        X509_NAME_add_entry_by_txt(name, part.substr(0, equals).c_str(), V_ASN1_UTF8STRING,
                                   reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1, 0);
    }
}

}  // namespace

PCCERT_CONTEXT MakeTestCertificate(const TestCertificateFields& fields)
{
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    X509* x509 = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(x509), fields.serial);
    AddEntries(X509_get_subject_name(x509), fields.subject);
    AddEntries(X509_get_issuer_name(x509), fields.issuer.empty() ? fields.subject : fields.issuer);
    ASN1_TIME_set_string(X509_getm_notBefore(x509), fields.notBefore.c_str());
    ASN1_TIME_set_string(X509_getm_notAfter(x509), fields.notAfter.c_str());
    X509_set_pubkey(x509, key);
    X509_sign(x509, key, EVP_sha256());
    unsigned char* der = nullptr;
    int length = i2d_X509(x509, &der);
    PCCERT_CONTEXT context = length > 0 ? CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der,
                                                                       static_cast<DWORD>(length))
                                        : nullptr;
    OPENSSL_free(der);
    X509_free(x509);
    EVP_PKEY_free(key);
    return context;
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
