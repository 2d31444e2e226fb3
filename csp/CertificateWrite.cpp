#include "CertificateWrite.h"

#include "DebugLog.h"
#include "KeyObject.h"
#include "ProviderContext.h"
#include "TokenKeys.h"
#include "UserPin.h"

#include <wincrypt.h>

#include <string>

namespace {

constexpr std::uint8_t kDerSequence = 0x30;

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
    // The write deletes the token's other containers of the algorithm, and
    // their keys with them: the user's PIN first.
    DWORD error = VerifyUserPin(context, context->newKeySetState != NEWKEYSET_NONE || g_PinVerified != 0);
    if (error) {
        LogLine("----->uk_VerifyUserPin......\n");
        return error;
    }
    TokenSession& session = context->session;
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
    Token_DeleteOtherContainers(&session, context->containerName,
                                static_cast<std::uint8_t>(rsa ? devicelib::UK_ALG_RSA : devicelib::UK_ALG_SM2));
    if (!rsa) {
        DWORD imported = Token_ImportSm2PublicKeyFromCert(&session, key, certificate, length);
        if (imported != 0) {
            LogLine("---->dev_WriteCert(KP_CERTIFICATE).....\n");
            return imported;
        }
    }
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
