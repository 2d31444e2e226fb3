#include "KeyObject.h"

#include "CertificateWrite.h"
#include "DebugLog.h"
#include "ParamOutput.h"
#include "ProviderContext.h"

#include <cstring>

namespace {

constexpr std::uint32_t kDesIvLen = 8;
constexpr std::uint32_t kAesIvLen = 16;
constexpr std::uint32_t kRc4KeyAndSaltLen = 16;
constexpr DWORD kMaxPadding = 4;
constexpr DWORD kMaxPermissions = 512;

// 0 for keys without an IV.
std::uint32_t IvLength(ALG_ID algId)
{
    switch (algId) {
    case CALG_DES:
    case CALG_3DES:
    case CALG_3DES_112:
        return kDesIvLen;
    case CALG_AES:
    case CALG_AES_128:
    case CALG_AES_192:
    case CALG_AES_256:
        return kAesIvLen;
    default:
        return 0;
    }
}

std::uint32_t SaltLength(const KeyObject* key)
{
    return key->keyLen < kRc4KeyAndSaltLen ? kRc4KeyAndSaltLen - key->keyLen : 0;
}

DWORD ReadWord(const BYTE* data)
{
    DWORD value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

DWORD SetSalt(KeyObject* key, DWORD param, const BYTE* data)
{
    if (key->algId != CALG_RC4 || !key->salted) {
        LogLine("---->NTE_BAD_TYPE(KP_SALT).....\n");
        return static_cast<DWORD>(NTE_BAD_TYPE);
    }
    std::uint32_t length = SaltLength(key);
    const BYTE* salt = data;
    // KP_SALT_EX hands over a blob, not the bytes: take no more than it holds.
    if (param == KP_SALT_EX) {
        const auto* blob = reinterpret_cast<const CRYPT_DATA_BLOB*>(data);
        if (blob->cbData < length) length = blob->cbData;
        salt = blob->pbData;
        if (!salt && length) return static_cast<DWORD>(NTE_BAD_DATA);
    }
    std::memcpy(key->iv, salt, length);
    return 0;
}

DWORD ReadCertificate(ProviderContext* context, const KeyObject* key, BYTE* data, DWORD* dataLen)
{
    if (key->inObject) return static_cast<DWORD>(NTE_BAD_KEY);
    TokenSession& session = context->session;
    if (!session.funcs) return static_cast<DWORD>(NTE_BAD_KEYSET);
    devicelib::UK_KEY_REF ref = {key->key[kKeyIdCert], key->key[kKeyIdCert + 1]};
    std::uint8_t certificate[devicelib::UK_MAX_CERT_LEN];
    std::uint32_t length = sizeof certificate;
    std::uint32_t status = session.funcs->ReadCert(session.device, &ref, certificate, &length);
    if (status != devicelib::UK_OK || length > sizeof certificate) {
        LogLine("---->ReadCert Error. Code : ");
        LogCode(status);
        LogLine("---->dev_ReadCert.....\n");
        return static_cast<DWORD>(NTE_FAIL);
    }
    if (length == 0) return static_cast<DWORD>(NTE_BAD_DATA);
    return ReturnData(certificate, length, data, dataLen);
}

} // namespace

DWORD SetKeyParamImpl(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD param, const BYTE* data, DWORD flags)
{
    ProviderContext* context = LookupProviderContext(hProv);
    if (!context) return static_cast<DWORD>(NTE_BAD_UID);
    KeyObject* key = LookupKeyObject(hKey);
    if (!key) return static_cast<DWORD>(NTE_BAD_KEY);
    if (flags != 0) {
        LogLine("---->NTE_BAD_FLAGS.....\n");
        return static_cast<DWORD>(NTE_BAD_FLAGS);
    }
    if (!data) return ERROR_INVALID_PARAMETER;
    bool rc4 = key->algId == CALG_RC4;
    switch (param) {
    case KP_IV: {
        std::uint32_t length = IvLength(key->algId);
        if (length == 0) {
            LogLine("---->NTE_BAD_TYPE(KP_IV).....\n");
            return static_cast<DWORD>(NTE_BAD_TYPE);
        }
        std::memcpy(key->iv, data, length);
        key->mode = kKeyModeCbc;
        return 0;
    }
    case KP_SALT:
    case KP_SALT_EX:
        return SetSalt(key, param, data);
    case KP_PADDING: {
        if (rc4) return static_cast<DWORD>(NTE_BAD_TYPE);
        DWORD padding = ReadWord(data);
        if (padding > kMaxPadding) {
            LogLine("---->NTE_BAD_DATA(KP_PADDING).....\n");
            return static_cast<DWORD>(NTE_BAD_DATA);
        }
        key->padding = padding;
        return 0;
    }
    case KP_MODE: {
        if (rc4) return static_cast<DWORD>(NTE_BAD_TYPE);
        DWORD mode = ReadWord(data);
        if (mode != kKeyModeCbc && mode != kKeyModeEcb) {
            LogLine("---->NTE_BAD_TYPE(KP_MODE).....\n");
            return static_cast<DWORD>(NTE_BAD_TYPE);
        }
        key->mode = mode;
        return 0;
    }
    case KP_PERMISSIONS:
        if (ReadWord(data) > kMaxPermissions) {
            LogLine("---->NTE_BAD_DATA(KP_PERMISSIONS).....\n");
            return static_cast<DWORD>(NTE_BAD_DATA);
        }
        return 0;
    case KP_CERTIFICATE:
        if (!IsRsaAlg(key->algId) && !IsSm2Alg(key->algId)) {
            LogLine("---->NTE_BAD_TYPE(KP_CERTIFICATE).....\n");
            return static_cast<DWORD>(NTE_BAD_TYPE);
        }
        return WriteCertificateToToken(context, key, data);
    default:
        LogLine("---->NTE_BAD_TYPE(dwFlag).....\n");
        return static_cast<DWORD>(NTE_BAD_TYPE);
    }
}

namespace {

DWORD AnswerKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD param, BYTE* data, DWORD* dataLen)
{
    ProviderContext* context = LookupProviderContext(hProv);
    if (!context) return static_cast<DWORD>(NTE_BAD_UID);
    KeyObject* key = LookupKeyObject(hKey);
    if (!key) return static_cast<DWORD>(NTE_BAD_KEY);
    if (!dataLen) return ERROR_INVALID_PARAMETER;
    bool rc4 = key->algId == CALG_RC4;
    switch (param) {
    case KP_IV: {
        std::uint32_t length = IvLength(key->algId);
        if (length == 0) return static_cast<DWORD>(NTE_BAD_TYPE);
        if (key->mode != kKeyModeCbc) return static_cast<DWORD>(NTE_BAD_FLAGS);
        return ReturnData(key->iv, length, data, dataLen);
    }
    case KP_SALT:
        if (!rc4) return static_cast<DWORD>(NTE_BAD_TYPE);
        return ReturnData(key->iv, SaltLength(key), data, dataLen);
    case KP_PADDING:
        if (rc4) return static_cast<DWORD>(NTE_BAD_TYPE);
        return ReturnWord(key->padding, data, dataLen);
    case KP_MODE:
        if (rc4) return static_cast<DWORD>(NTE_BAD_TYPE);
        return ReturnWord(key->mode, data, dataLen);
    case KP_PERMISSIONS:
        return ReturnWord(key->permissions, data, dataLen);
    case KP_ALGID:
        return ReturnWord(key->algId, data, dataLen);
    case KP_BLOCKLEN:
        return ReturnWord(key->blockLen * 8, data, dataLen);
    case KP_KEYLEN:
        return ReturnWord(key->keyLen * 8, data, dataLen);
    case KP_CERTIFICATE:
        if (!IsRsaAlg(key->algId) && !IsSm2Alg(key->algId)) {
            LogLine("---->NTE_BAD_TYPE(KP_CERTIFICATE).....\n");
            return static_cast<DWORD>(NTE_BAD_TYPE);
        }
        return ReadCertificate(context, key, data, dataLen);
    default:
        return static_cast<DWORD>(NTE_BAD_TYPE);
    }
}

} // namespace

DWORD GetKeyParamImpl(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD param, BYTE* data, DWORD* dataLen)
{
    DWORD status = AnswerKeyParam(hProv, hKey, param, data, dataLen);
    if (status == static_cast<DWORD>(NTE_BUFFER_TOO_SMALL)) LogLine("---->NTE_BUFFER_TOO_SMALL.....\n");
    return status;
}
