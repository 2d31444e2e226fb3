#include "TestCA.h"

#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <sstream>

namespace testca {

const wchar_t kRootCertificatesKey[] = L"SOFTWARE\\Microsoft\\SystemCertificates\\ROOT\\Certificates";

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

EVP_PKEY *SharedKey()
{
    static EVP_PKEY *pKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    return pKey;
}

// "CN=A, O=B, C=CN" entered as C, O, CN so that the system shows it back
// in the same order.
X509_NAME *NameOf(const std::string &text)
{
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, ','))
        parts.push_back(part.substr(part.find_first_not_of(' ')));
    X509_NAME *pName = X509_NAME_new();
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        size_t eq = it->find('=');
        X509_NAME_add_entry_by_txt(pName, it->substr(0, eq).c_str(), MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char *>(it->c_str() + eq + 1),
                                   -1, -1, 0);
    }
    return pName;
}

std::vector<BYTE> ToDer(X509 *pX509)
{
    unsigned char *pb = nullptr;
    int cb = i2d_X509(pX509, &pb);
    std::vector<BYTE> der(pb, pb + (cb > 0 ? cb : 0));
    OPENSSL_free(pb);
    return der;
}

// The location's own registry store: the user's logical "CA" store also
// shows the machine's certificates.
HCERTSTORE OpenCA(DWORD dwLocation)
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, kEncoding, 0, dwLocation, L"CA");
}

PCCERT_CONTEXT FindIn(HCERTSTORE hStore, const std::vector<BYTE> &der)
{
    CertPtr cert = ContextOf(der);
    return CertFindCertificateInStore(hStore, kEncoding, 0, CERT_FIND_EXISTING, cert.get(),
                                      nullptr);
}

PCCERT_CONTEXT FindThumbprint(HCERTSTORE hStore, const std::wstring &thumbprint)
{
    BYTE abHash[20] = {};
    for (size_t i = 0; i < 20 && 2 * i + 1 < thumbprint.size(); ++i)
        abHash[i] = static_cast<BYTE>(std::stoi(thumbprint.substr(2 * i, 2), nullptr, 16));
    CRYPT_HASH_BLOB hash = {sizeof(abHash), abHash};
    return CertFindCertificateInStore(hStore, kEncoding, 0, CERT_FIND_SHA1_HASH, &hash, nullptr);
}

std::wstring RootKeyPath(const std::wstring &thumbprint)
{
    return std::wstring(kRootCertificatesKey) + L"\\" + thumbprint;
}

} // namespace

std::vector<BYTE> MakeCertificate(const std::string &subject, const std::string &issuer,
                                  const std::string &serialHex, int nNotAfterDays)
{
    X509 *pX509 = X509_new();
    X509_set_version(pX509, 2);
    BIGNUM *pSerial = nullptr;
    BN_hex2bn(&pSerial, serialHex.c_str());
    BN_to_ASN1_INTEGER(pSerial, X509_get_serialNumber(pX509));
    BN_free(pSerial);
    X509_NAME *pSubject = NameOf(subject), *pIssuer = NameOf(issuer);
    X509_set_subject_name(pX509, pSubject);
    X509_set_issuer_name(pX509, pIssuer);
    X509_NAME_free(pSubject);
    X509_NAME_free(pIssuer);
    const long nDay = 24L * 3600;
    X509_gmtime_adj(X509_getm_notBefore(pX509), (nNotAfterDays < 0 ? nNotAfterDays - 30 : -1) * nDay);
    X509_gmtime_adj(X509_getm_notAfter(pX509), nNotAfterDays * nDay);
    X509_set_pubkey(pX509, SharedKey());
    X509_sign(pX509, SharedKey(), EVP_sha256());
    std::vector<BYTE> der = ToDer(pX509);
    X509_free(pX509);
    return der;
}

CertPtr ContextOf(const std::vector<BYTE> &der)
{
    return CertPtr(CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size())));
}

std::wstring Thumbprint(const std::vector<BYTE> &der)
{
    BYTE abHash[20];
    DWORD cbHash = sizeof(abHash);
    CryptHashCertificate(0, CALG_SHA1, 0, der.data(), static_cast<DWORD>(der.size()), abHash,
                         &cbHash);
    std::wstring text;
    for (BYTE b : abHash) {
        wchar_t wsz[3];
        swprintf(wsz, 3, L"%02X", b);
        text += wsz;
    }
    return text;
}

std::vector<BYTE> StoreElement(const std::vector<std::pair<DWORD, std::vector<BYTE>>> &records)
{
    std::vector<BYTE> element;
    auto put = [&](DWORD dw) {
        for (int i = 0; i < 4; ++i)
            element.push_back(static_cast<BYTE>(dw >> (8 * i)));
    };
    for (const auto &record : records) {
        put(record.first);
        put(1);
        put(static_cast<DWORD>(record.second.size()));
        element.insert(element.end(), record.second.begin(), record.second.end());
    }
    return element;
}

std::string Base64Lines(const std::vector<BYTE> &data)
{
    std::string text(4 * ((data.size() + 2) / 3) + 1, '\0');
    int cch = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(&text[0]), data.data(),
                              static_cast<int>(data.size()));
    text.resize(cch);
    std::string lines;
    for (size_t i = 0; i < text.size(); i += 76)
        lines += text.substr(i, 76) + "\r\n";
    return lines;
}

std::vector<BYTE> Bundle(const std::vector<std::vector<BYTE>> &certificates)
{
    PKCS7 *p7 = PKCS7_new();
    PKCS7_set_type(p7, NID_pkcs7_signed);
    PKCS7_content_new(p7, NID_pkcs7_data);
    for (const auto &der : certificates) {
        const unsigned char *p = der.data();
        X509 *pX509 = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        PKCS7_add_certificate(p7, pX509);
        X509_free(pX509);
    }
    unsigned char *pb = nullptr;
    int cb = i2d_PKCS7(p7, &pb);
    std::vector<BYTE> bundle(pb, pb + (cb > 0 ? cb : 0));
    OPENSSL_free(pb);
    PKCS7_free(p7);
    return bundle;
}

bool StoreHolds(DWORD dwLocation, const std::vector<BYTE> &der)
{
    HCERTSTORE hStore = OpenCA(dwLocation);
    PCCERT_CONTEXT pFound = hStore ? FindIn(hStore, der) : nullptr;
    if (pFound != nullptr)
        CertFreeCertificateContext(pFound);
    if (hStore != nullptr)
        CertCloseStore(hStore, 0);
    return pFound != nullptr;
}

bool AddToStore(DWORD dwLocation, const std::vector<BYTE> &der)
{
    HCERTSTORE hStore = OpenCA(dwLocation);
    if (hStore == nullptr)
        return false;
    BOOL bAdded = CertAddEncodedCertificateToStore(hStore, kEncoding, der.data(),
                                                   static_cast<DWORD>(der.size()),
                                                   CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(hStore, 0);
    return bAdded != FALSE;
}

void RemoveFromStore(DWORD dwLocation, const std::vector<BYTE> &der)
{
    HCERTSTORE hStore = OpenCA(dwLocation);
    if (hStore == nullptr)
        return;
    PCCERT_CONTEXT pFound = FindIn(hStore, der);
    if (pFound != nullptr)
        CertDeleteCertificateFromStore(pFound);
    CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(hStore, 0);
}

bool StoreHoldsThumbprint(DWORD dwLocation, LPCWSTR pwszStore, const std::wstring &thumbprint)
{
    HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, kEncoding, 0,
                                      dwLocation | CERT_STORE_READONLY_FLAG, pwszStore);
    if (hStore == nullptr)
        return false;
    PCCERT_CONTEXT pFound = FindThumbprint(hStore, thumbprint);
    if (pFound != nullptr)
        CertFreeCertificateContext(pFound);
    CertCloseStore(hStore, 0);
    return pFound != nullptr;
}

void RemoveThumbprint(DWORD dwLocation, LPCWSTR pwszStore, const std::wstring &thumbprint)
{
    HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, kEncoding, 0, dwLocation,
                                      pwszStore);
    if (hStore == nullptr)
        return;
    PCCERT_CONTEXT pFound = FindThumbprint(hStore, thumbprint);
    if (pFound != nullptr)
        CertDeleteCertificateFromStore(pFound);
    CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(hStore, 0);
}

bool RootKeyExists(const std::wstring &thumbprint)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RootKeyPath(thumbprint).c_str(), 0, KEY_READ, &hKey) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

std::vector<BYTE> RootBlob(const std::wstring &thumbprint)
{
    DWORD cb = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, RootKeyPath(thumbprint).c_str(), L"Blob", RRF_RT_REG_BINARY,
                     nullptr, nullptr, &cb) != ERROR_SUCCESS)
        return {};
    std::vector<BYTE> blob(cb);
    RegGetValueW(HKEY_LOCAL_MACHINE, RootKeyPath(thumbprint).c_str(), L"Blob", RRF_RT_REG_BINARY,
                 nullptr, blob.data(), &cb);
    blob.resize(cb);
    return blob;
}

void WriteRootBlob(const std::wstring &thumbprint, const std::vector<BYTE> &blob)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, RootKeyPath(thumbprint).c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &hKey, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(hKey, L"Blob", 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
    RegCloseKey(hKey);
}

void DeleteRootKey(const std::wstring &thumbprint)
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, RootKeyPath(thumbprint).c_str());
}

} // namespace testca
