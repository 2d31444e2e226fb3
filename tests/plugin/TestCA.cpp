#include "TestCA.h"

#include "TestCertificateMaker.h"

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
std::vector<testcsp::NameEntry> NameOf(const std::string &text)
{
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, ',')) parts.push_back(part.substr(part.find_first_not_of(' ')));
    std::vector<testcsp::NameEntry> entries;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        size_t eq = it->find('=');
        entries.push_back({it->substr(0, eq), it->substr(eq + 1)});
    }
    return entries;
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
    return CertFindCertificateInStore(hStore, kEncoding, 0, CERT_FIND_EXISTING, cert.get(), nullptr);
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

// Deletes what was found, if anything, and commits and closes the store.
void DeleteFound(HCERTSTORE hStore, PCCERT_CONTEXT pFound)
{
    if (pFound != nullptr) CertDeleteCertificateFromStore(pFound);
    CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(hStore, 0);
}

} // namespace

std::vector<BYTE> MakeCertificate(const std::string &subject, const std::string &issuer, const std::string &serialHex,
                                  int nNotAfterDays)
{
    const long nDay = 24L * 3600;
    testcsp::CertificateSpec spec;
    spec.pKey = SharedKey();
    spec.bVersion3 = true;
    spec.subject = NameOf(subject);
    spec.issuer = NameOf(issuer);
    spec.serialHex = serialHex;
    spec.nNotBeforeOffset = (nNotAfterDays < 0 ? nNotAfterDays - 30 : -1) * nDay;
    spec.nNotAfterOffset = nNotAfterDays * nDay;
    return testcsp::MakeCertificateDer(spec);
}

CertPtr ContextOf(const std::vector<BYTE> &der)
{
    return CertPtr(CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size())));
}

std::wstring Thumbprint(const std::vector<BYTE> &der)
{
    BYTE abHash[20];
    DWORD cbHash = sizeof(abHash);
    CryptHashCertificate(0, CALG_SHA1, 0, der.data(), static_cast<DWORD>(der.size()), abHash, &cbHash);
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
        for (int i = 0; i < 4; ++i) element.push_back(static_cast<BYTE>(dw >> (8 * i)));
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
    int cch = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(&text[0]), data.data(), static_cast<int>(data.size()));
    text.resize(cch);
    std::string lines;
    for (size_t i = 0; i < text.size(); i += 76) lines += text.substr(i, 76) + "\r\n";
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
    if (pFound != nullptr) CertFreeCertificateContext(pFound);
    if (hStore != nullptr) CertCloseStore(hStore, 0);
    return pFound != nullptr;
}

bool AddToStore(DWORD dwLocation, const std::vector<BYTE> &der)
{
    HCERTSTORE hStore = OpenCA(dwLocation);
    if (hStore == nullptr) return false;
    BOOL bAdded = CertAddEncodedCertificateToStore(hStore, kEncoding, der.data(), static_cast<DWORD>(der.size()),
                                                   CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(hStore, 0);
    return bAdded != FALSE;
}

void RemoveFromStore(DWORD dwLocation, const std::vector<BYTE> &der)
{
    HCERTSTORE hStore = OpenCA(dwLocation);
    if (hStore == nullptr) return;
    DeleteFound(hStore, FindIn(hStore, der));
}

bool StoreHoldsThumbprint(DWORD dwLocation, LPCWSTR pwszStore, const std::wstring &thumbprint)
{
    HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, kEncoding, 0,
                                      dwLocation | CERT_STORE_READONLY_FLAG, pwszStore);
    if (hStore == nullptr) return false;
    PCCERT_CONTEXT pFound = FindThumbprint(hStore, thumbprint);
    if (pFound != nullptr) CertFreeCertificateContext(pFound);
    CertCloseStore(hStore, 0);
    return pFound != nullptr;
}

void RemoveThumbprint(DWORD dwLocation, LPCWSTR pwszStore, const std::wstring &thumbprint)
{
    HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, kEncoding, 0, dwLocation, pwszStore);
    if (hStore == nullptr) return;
    DeleteFound(hStore, FindThumbprint(hStore, thumbprint));
}

bool MakeRootCertificatesKey()
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRootCertificatesKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                        nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

bool RootKeyExists(const std::wstring &thumbprint)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RootKeyPath(thumbprint).c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

std::vector<BYTE> RootBlob(const std::wstring &thumbprint)
{
    DWORD cb = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, RootKeyPath(thumbprint).c_str(), L"Blob", RRF_RT_REG_BINARY, nullptr, nullptr,
                     &cb) != ERROR_SUCCESS)
        return {};
    std::vector<BYTE> blob(cb);
    RegGetValueW(HKEY_LOCAL_MACHINE, RootKeyPath(thumbprint).c_str(), L"Blob", RRF_RT_REG_BINARY, nullptr, blob.data(),
                 &cb);
    blob.resize(cb);
    return blob;
}

void WriteRootBlob(const std::wstring &thumbprint, const std::vector<BYTE> &blob)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, RootKeyPath(thumbprint).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &hKey, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(hKey, L"Blob", 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
    RegCloseKey(hKey);
}

void DeleteRootKey(const std::wstring &thumbprint)
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, RootKeyPath(thumbprint).c_str());
}

} // namespace testca
