#include "TestCertificateMaker.h"

#include <openssl/bn.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace testcsp {

namespace {

void AddEntries(X509_NAME *pName, const std::vector<NameEntry> &entries, int nType)
{
    for (const NameEntry &entry : entries)
        X509_NAME_add_entry_by_txt(pName, entry.field.c_str(), nType,
                                   reinterpret_cast<const unsigned char *>(entry.value.c_str()), -1, -1, 0);
}

void SetTime(ASN1_TIME *pTime, const std::string &text, long nOffset)
{
    if (!text.empty())
        ASN1_TIME_set_string(pTime, text.c_str());
    else
        X509_gmtime_adj(pTime, nOffset);
}

} // namespace

std::vector<unsigned char> MakeCertificateDer(const CertificateSpec &spec)
{
    X509 *pX509 = X509_new();
    if (spec.bVersion3) X509_set_version(pX509, 2);
    BIGNUM *pSerial = nullptr;
    BN_hex2bn(&pSerial, spec.serialHex.c_str());
    BN_to_ASN1_INTEGER(pSerial, X509_get_serialNumber(pX509));
    BN_free(pSerial);
    AddEntries(X509_get_subject_name(pX509), spec.subject, spec.nNameType);
    AddEntries(X509_get_issuer_name(pX509), spec.issuer.empty() ? spec.subject : spec.issuer, spec.nNameType);
    SetTime(X509_getm_notBefore(pX509), spec.notBefore, spec.nNotBeforeOffset);
    SetTime(X509_getm_notAfter(pX509), spec.notAfter, spec.nNotAfterOffset);
    X509_set_pubkey(pX509, spec.pKey);
    if (!spec.keyUsage.empty()) {
        X509_EXTENSION *pExt = X509V3_EXT_conf_nid(nullptr, nullptr, NID_key_usage, spec.keyUsage.c_str());
        X509_add_ext(pX509, pExt, -1);
        X509_EXTENSION_free(pExt);
    }
    std::vector<unsigned char> der;
    if (X509_sign(pX509, spec.pKey, spec.pDigest ? spec.pDigest : EVP_sha256()) > 0) {
        unsigned char *pbDer = nullptr;
        const int cbDer = i2d_X509(pX509, &pbDer);
        if (cbDer > 0) der.assign(pbDer, pbDer + cbDer);
        OPENSSL_free(pbDer);
    }
    X509_free(pX509);
    return der;
}

} // namespace testcsp
