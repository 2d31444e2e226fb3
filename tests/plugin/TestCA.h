// Certificates made on the fly for the trust-chain tests: names given as
// "C/O/CN" parts, one shared key, validity around the current time.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>
#include <vector>

namespace testca {

struct CertFree {
    void operator()(PCCERT_CONTEXT p) const { CertFreeCertificateContext(p); }
};
using CertPtr = std::unique_ptr<const CERT_CONTEXT, CertFree>;

// Subject and issuer as X.500 texts in the system's order, e.g.
// "CN=A, O=B, C=CN"; serial in hexadecimal. nNotAfterDays may be negative.
std::vector<BYTE> MakeCertificate(const std::string &subject, const std::string &issuer, const std::string &serialHex,
                                  int nNotAfterDays = 365);
CertPtr ContextOf(const std::vector<BYTE> &der);
std::wstring Thumbprint(const std::vector<BYTE> &der);

// A serialized store element with the given property records; property 32
// holds the certificate wherever it is placed.
std::vector<BYTE> StoreElement(const std::vector<std::pair<DWORD, std::vector<BYTE>>> &records);
// Base64 in lines of 76 characters separated by CR LF.
std::string Base64Lines(const std::vector<BYTE> &data);
// A PKCS#7 bundle of the certificates, without signers.
std::vector<BYTE> Bundle(const std::vector<std::vector<BYTE>> &certificates);

// The machine's and the user's own "CA" registry stores.
bool StoreHolds(DWORD dwLocation, const std::vector<BYTE> &der);
bool AddToStore(DWORD dwLocation, const std::vector<BYTE> &der);
void RemoveFromStore(DWORD dwLocation, const std::vector<BYTE> &der);
// By SHA-1 thumbprint (40 hexadecimal digits), in any system store.
bool StoreHoldsThumbprint(DWORD dwLocation, LPCWSTR pwszStore, const std::wstring &thumbprint);
void RemoveThumbprint(DWORD dwLocation, LPCWSTR pwszStore, const std::wstring &thumbprint);

// Keys under the machine's root-store certificates key.
extern const wchar_t kRootCertificatesKey[];
// Windows has the key itself; a fresh Wine prefix makes it only when the
// root store is first used.
bool MakeRootCertificatesKey();
bool RootKeyExists(const std::wstring &thumbprint);
std::vector<BYTE> RootBlob(const std::wstring &thumbprint);
void WriteRootBlob(const std::wstring &thumbprint, const std::vector<BYTE> &blob);
void DeleteRootKey(const std::wstring &thumbprint);

} // namespace testca
