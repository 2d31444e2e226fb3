// Certificates made with OpenSSL for the tests: one maker for every test
// program, each giving only what its cases need.
#pragma once

#include <openssl/asn1.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

namespace testcsp {

struct NameEntry {
    std::string field; // "CN", "O", "C", ...
    std::string value;
};

struct CertificateSpec {
    EVP_PKEY *pKey = nullptr;        // the subject's key, which also signs; not owned
    const EVP_MD *pDigest = nullptr; // null: SHA-256
    std::vector<NameEntry> subject;  // in encoding order
    std::vector<NameEntry> issuer;   // empty: the subject's
    int nNameType = MBSTRING_UTF8;   // V_ASN1_UTF8STRING skips OpenSSL's length limits
    std::string serialHex = "01";
    long nNotBeforeOffset = 0; // seconds from now
    long nNotAfterOffset = 3600;
    std::string notBefore, notAfter; // ASN.1 time texts; when given, the offsets are not used
    bool bVersion3 = false;
    std::string keyUsage; // e.g. "digitalSignature"; empty: no extension
};

// The certificate's DER; empty when OpenSSL refused it.
std::vector<unsigned char> MakeCertificateDer(const CertificateSpec &spec);

} // namespace testcsp
