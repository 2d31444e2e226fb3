#include "CertificateWrite.h"

#include "DebugLog.h"
#include "KeyObject.h"
#include "ProviderContext.h"
#include "TokenAccess.h"
#include "TokenKeys.h"
#include "UserPin.h"
#include "tokencrypto/Sm2PointCheck.h"

#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr std::uint8_t kDerSequence = 0x30;
constexpr std::uint32_t kRsaPublicExponent = 65537;
constexpr unsigned kSm2CoordinateLen = 32;
constexpr unsigned kSm2PointLen = 1 + 2 * kSm2CoordinateLen; // 04 || x || y
constexpr char kSm2CurveOid[] = "1.2.156.10197.1.301";
// The SM2 curve's object identifier as a DER parameter.
constexpr std::uint8_t kSm2CurveParameter[] = {0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2D};

bool IsSm2PublicKey(const CRYPT_ALGORITHM_IDENTIFIER& algorithm)
{
    if (std::strcmp(algorithm.pszObjId, kSm2CurveOid) == 0) return true;
    const CRYPT_OBJID_BLOB& parameters = algorithm.Parameters;
    return std::strcmp(algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) == 0 &&
        parameters.cbData == sizeof kSm2CurveParameter &&
        std::memcmp(parameters.pbData, kSm2CurveParameter, sizeof kSm2CurveParameter) == 0;
}

// tokenKey: x then y, big-endian.
bool SameSm2Key(const CERT_PUBLIC_KEY_INFO& info, const std::uint8_t* tokenKey)
{
    const CRYPT_BIT_BLOB& point = info.PublicKey;
    return IsSm2PublicKey(info.Algorithm) && point.cbData == kSm2PointLen && point.pbData[0] == 0x04 &&
        tokencrypto::Sm2PointOnCurve(point.pbData + 1, point.pbData + 1 + kSm2CoordinateLen) &&
        std::memcmp(point.pbData + 1, tokenKey, 2 * kSm2CoordinateLen) == 0;
}

// tokenKey: the modulus, big-endian; the token's pairs use the exponent
// 65537.
bool SameRsaKey(const CERT_PUBLIC_KEY_INFO& info, const std::uint8_t* tokenKey, std::uint32_t keyLen)
{
    if (std::strcmp(info.Algorithm.pszObjId, szOID_RSA_RSA) != 0) return false;
    BYTE* blob = nullptr;
    DWORD blobLen = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, info.PublicKey.pbData, info.PublicKey.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &blob, &blobLen))
        return false;
    // BLOBHEADER, RSAPUBKEY, then the modulus little-endian.
    const auto* rsa = reinterpret_cast<const RSAPUBKEY*>(blob + sizeof(BLOBHEADER));
    const BYTE* modulus = blob + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
    bool same = blobLen >= sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + keyLen && rsa->bitlen == keyLen * 8 &&
        rsa->pubexp == kRsaPublicExponent &&
        std::equal(modulus, modulus + keyLen, std::reverse_iterator<const std::uint8_t*>(tokenKey + keyLen));
    LocalFree(blob);
    return same;
}

// A certificate goes under a key only when it certifies that key: of its
// algorithm, with the public key the token holds for it. Anything else
// would be selected and then sign what no verifier accepts.
DWORD CheckCertifiedKey(ProviderContext* context, const KeyObject* key, const std::uint8_t* certificate,
                        std::uint32_t length)
{
    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, certificate, length);
    if (!cert) return static_cast<DWORD>(NTE_BAD_DATA);
    std::uint8_t tokenKey[kKeyBytesRoom] = {};
    DWORD error = Token_ExportPublicKey(&context->session, key, tokenKey);
    if (error == 0) {
        const CERT_PUBLIC_KEY_INFO& info = cert->pCertInfo->SubjectPublicKeyInfo;
        bool same = IsRsaAlg(key->algId) ? SameRsaKey(info, tokenKey, key->keyLen) : SameSm2Key(info, tokenKey);
        if (!same) error = static_cast<DWORD>(NTE_BAD_DATA);
    }
    CertFreeCertificateContext(cert);
    return error;
}

std::wstring AnsiToWide(const char* text)
{
    int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], needed);
    wide.resize(static_cast<std::size_t>(needed - 1));
    return wide;
}

} // namespace

std::uint32_t DerCertificateLength(const std::uint8_t* der, std::uint32_t maxLength)
{
    // Only the header is read before the length is known: the caller
    // gives no buffer length with a certificate.
    if (der[0] != kDerSequence) return 0;
    std::uint32_t header = 2, content = der[1];
    if (der[1] & 0x80) {
        std::uint32_t lengthBytes = der[1] & 0x7F;
        if (lengthBytes == 0 || lengthBytes > 2) return 0;
        content = 0;
        for (std::uint32_t i = 0; i < lengthBytes; ++i) content = (content << 8) | der[2 + i];
        header += lengthBytes;
    }
    std::uint32_t total = header + content;
    return total <= maxLength ? total : 0;
}

DWORD WriteCertificateToToken(ProviderContext* context, KeyObject* key, const std::uint8_t* certificate)
{
    if (key->inObject) return static_cast<DWORD>(NTE_BAD_KEY);
    std::uint32_t length = DerCertificateLength(certificate, devicelib::UK_MAX_CERT_LEN);
    if (length == 0) {
        LogLine("---->NTE_BAD_DATA(KP_CERTIFICATE).....\n");
        return static_cast<DWORD>(NTE_BAD_DATA);
    }
    if (!HasContainer(context)) {
        LogLine("---->NTE_BAD_KEYSET......\n");
        return static_cast<DWORD>(NTE_BAD_KEYSET);
    }
    // Checked before anything on the token changes: a refused write leaves
    // the certificate and the other containers as they were.
    DWORD error = CheckCertifiedKey(context, key, certificate, length);
    if (error) {
        LogLine("---->NTE_BAD_DATA(KP_CERTIFICATE).....\n");
        return error;
    }
    // The write deletes the token's other containers of the algorithm, and
    // their keys with them: the user's PIN first.
    error = VerifyUserPin(context, context->newKeySetState != NEWKEYSET_NONE || g_PinVerified != 0);
    if (error) {
        LogLine("----->uk_VerifyUserPin......\n");
        return error;
    }
    TokenSession& session = context->session;
    // The key may have changed on the token while the PIN was asked for;
    // held from the check on, the certificate and the deletions meet the
    // token as it was checked.
    devicelib::TokenHold hold;
    if ((error = HoldToken(hold, session.deviceName)) || (error = CheckCertifiedKey(context, key, certificate, length)))
        return error;
    devicelib::UK_KEY_REF ref = {key->key[kKeyIdCert], key->key[kKeyIdCert + 1]};
    std::uint32_t status = session.funcs->WriteCert(session.device, &ref, certificate, length);
    if (status != devicelib::UK_OK) {
        LogLine("---->WriteCert Error. Code : ");
        LogCode(status);
        LogLine("---->dev_WriteCert(KP_CERTIFICATE).....\n");
        return static_cast<DWORD>(NTE_FAIL);
    }
    bool rsa = IsRsaAlg(key->algId);
    if (rsa)
        RegisterCertInMyStore(context->containerName, key->algId == CALG_RSA_SIGN ? AT_SIGNATURE : AT_KEYEXCHANGE,
                              certificate, length);
    // The certificate carries the token's own public key: nothing to load
    // into the key pair.
    Token_DeleteOtherContainers(&session, context->containerName,
                                static_cast<std::uint8_t>(rsa ? devicelib::UK_ALG_RSA : devicelib::UK_ALG_SM2));
    NotifyClientWindow();
    return 0;
}

BOOL RegisterCertInMyStore(const char* containerName, DWORD keySpec, const std::uint8_t* certificate,
                           std::uint32_t length)
{
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
    if (!store) return FALSE;
    BOOL added = FALSE;
    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, certificate, length);
    if (cert) {
        std::wstring container = AnsiToWide(containerName);
        std::wstring provider = kProviderNameW;
        CRYPT_KEY_PROV_INFO info = {};
        info.pwszContainerName = &container[0];
        info.pwszProvName = &provider[0];
        info.dwProvType = kProviderType;
        info.dwKeySpec = keySpec;
        added = CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info) &&
            CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        CertFreeCertificateContext(cert);
    }
    CertCloseStore(store, 0);
    return added;
}

void NotifyClientWindow()
{
    HWND client = FindWindowW(kClientWindowClass, nullptr);
    if (client) SendMessageW(client, WM_COMMAND, kClientCertificateCommand, 0);
}
