#include "TokenAsymKey.h"

#include "DebugLog.h"

#include <cstring>

namespace {

constexpr std::uint32_t kRsaPublicExponent = 65537;

std::uint8_t UsageByte(AsymKeyUsage usage)
{
    switch (usage) {
    case ASYM_PUBLIC_ENCRYPT:
        return devicelib::UK_USE_PUBLIC_ENCRYPT;
    case ASYM_PRIVATE_DECRYPT:
        return devicelib::UK_USE_PRIVATE_DECRYPT;
    case ASYM_PRIVATE_SIGN:
        return devicelib::UK_USE_PRIVATE_SIGN;
    case ASYM_PUBLIC_VERIFY:
        return devicelib::UK_USE_PUBLIC_VERIFY;
    }
    return 0;
}

bool UsesPublicHalf(AsymKeyUsage usage)
{
    return usage == ASYM_PUBLIC_ENCRYPT || usage == ASYM_PUBLIC_VERIFY;
}

} // namespace

DWORD Token_AsymKeyInit(TokenSession* session, AsymKeyUsage usage, KeyObject* key)
{
    if (!session->funcs) return static_cast<DWORD>(NTE_FAIL);
    bool rsa = IsRsaAlg(key->algId);
    // Material of its own must at least hold the exponent written below.
    if (key->inObject && rsa && key->keyLen < 3) return static_cast<DWORD>(NTE_BAD_KEY);
    devicelib::UK_KEY_REF ref = {};
    std::memcpy(&ref, key->key + (UsesPublicHalf(usage) ? kKeyIdPublic : kKeyIdPrivate), sizeof ref);

    // A key imported from a blob carries its public material itself: the
    // modulus with the exponent every verification assumes, or x and y.
    std::uint8_t exponent[kKeyBytesRoom] = {};
    devicelib::UK_PUBLIC_KEY material = {};
    if (key->inObject) {
        material.bits = key->keyLen * 8;
        material.first = key->key;
        if (rsa) {
            exponent[key->keyLen - 3] = 1;
            exponent[key->keyLen - 2] = static_cast<std::uint8_t>(kRsaPublicExponent >> 8);
            exponent[key->keyLen - 1] = static_cast<std::uint8_t>(kRsaPublicExponent);
            material.second = exponent;
        } else {
            material.bits = 256;
            material.second = key->key + 32;
        }
    }
    devicelib::UK_ASYM_KEY_SPEC spec = {};
    spec.algorithm = static_cast<std::uint8_t>(rsa ? devicelib::UK_ALG_RSA : devicelib::UK_ALG_SM2);
    spec.usage = static_cast<std::uint8_t>(UsageByte(usage) | (key->inObject ? devicelib::UK_USE_KEY_MATERIAL : 0));
    spec.padding = key->padding == kKeyPaddingPkcs5 ? devicelib::UK_PAD_PKCS1 : devicelib::UK_PAD_NONE;
    spec.key = key->inObject ? static_cast<const void*>(&material) : static_cast<const void*>(&ref);
    spec.keyLen = key->keyLen;
    std::uint32_t status = session->funcs->AsymKeyInit(session->device, &spec, &key->operation);
    if (status != devicelib::UK_OK) return static_cast<DWORD>(NTE_FAIL);
    key->state = kKeyStateOpen;
    key->funcs = session->funcs;
    return 0;
}

DWORD Token_AsymKeyFinal(KeyObject* key)
{
    std::uint32_t status = key->funcs ? key->funcs->AsymKeyFinal(key->operation) : devicelib::UK_ERR_NOT_INITIALIZED;
    if (status != devicelib::UK_OK) {
        LogLine("---->AsymKeyFinal Error. Code : ");
        LogCode(status);
        return static_cast<DWORD>(NTE_FAIL);
    }
    key->operation = 0;
    key->state = kKeyStateStreamDone;
    return 0;
}
