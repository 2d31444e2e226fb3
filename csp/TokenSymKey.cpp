#include "TokenSymKey.h"

#include "DebugLog.h"

namespace {

std::uint8_t VendorCipher(ALG_ID algId)
{
    switch (algId) {
    case CALG_DES:
        return devicelib::UK_SYM_DES;
    case CALG_3DES:
    case CALG_3DES_112:
        return devicelib::UK_SYM_3DES;
    case CALG_AES:
    case CALG_AES_128:
    case CALG_AES_192:
    case CALG_AES_256:
        return devicelib::UK_SYM_AES;
    default:
        return 0;
    }
}

} // namespace

DWORD Token_SymKeyInit(TokenSession* session, KeyObject* key, bool encrypt)
{
    std::uint8_t cipher = VendorCipher(key->algId);
    if (!cipher) return static_cast<DWORD>(NTE_BAD_TYPE);
    if (!session->funcs) return static_cast<DWORD>(NTE_FAIL);
    devicelib::UK_SYM_KEY_SPEC spec = {};
    spec.algorithm = cipher;
    spec.mode = static_cast<std::uint8_t>((key->mode == kKeyModeCbc ? devicelib::UK_SYM_CBC : devicelib::UK_SYM_ECB) |
                                          devicelib::UK_SYM_MODE_FLAG);
    spec.padding = key->padding == kKeyPaddingPkcs5 ? devicelib::UK_SYM_PAD_PKCS5 : devicelib::UK_SYM_PAD_NONE;
    spec.key = key->key;
    spec.keyLen = key->keyLen;
    spec.iv = key->iv;
    std::uint32_t status = encrypt ? session->funcs->SymKeyEncInit(session->device, &spec, &key->operation)
                                   : session->funcs->SymKeyDecInit(session->device, &spec, &key->operation);
    if (status != devicelib::UK_OK) {
        LogLine(encrypt ? "---->SymKeyEncInit Error. Code : " : "---->SymKeyDecInit Error. Code : ");
        LogCode(status);
        return static_cast<DWORD>(NTE_FAIL);
    }
    key->state = encrypt ? kKeyStateSymOpen : kKeyStateOpen;
    key->funcs = session->funcs;
    return 0;
}
