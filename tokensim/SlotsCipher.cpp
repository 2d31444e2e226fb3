// Symmetric ciphers and digests on the card; neither needs a login.
#include "Session.h"
#include "Slots.h"

namespace tokensim {
namespace slots {
namespace {

using namespace devicelib;

const char* CipherName(const UK_SYM_KEY_SPEC& spec, Bytes& key)
{
    u8 mode = spec.mode & ~UK_SYM_MODE_FLAG;
    if (mode != UK_SYM_ECB && mode != UK_SYM_CBC) return nullptr;
    bool cbc = mode == UK_SYM_CBC;
    switch (spec.algorithm) {
    case UK_SYM_DES:
        if (key.size() != 8) return nullptr;
        // Three equal keys make EDE the single DES of the legacy provider.
        for (int i = 0; i < 2; ++i) key.insert(key.end(), spec.key, spec.key + 8);
        return cbc ? "DES-EDE3-CBC" : "DES-EDE3-ECB";
    case UK_SYM_3DES:
        if (key.size() == 16) return cbc ? "DES-EDE-CBC" : "DES-EDE-ECB";
        return key.size() == 24 ? (cbc ? "DES-EDE3-CBC" : "DES-EDE3-ECB") : nullptr;
    case UK_SYM_AES:
        if (key.size() == 16) return cbc ? "AES-128-CBC" : "AES-128-ECB";
        if (key.size() == 24) return cbc ? "AES-192-CBC" : "AES-192-ECB";
        return key.size() == 32 ? (cbc ? "AES-256-CBC" : "AES-256-ECB") : nullptr;
    default:
        return nullptr;
    }
}

u32 SymInit(u32 slot, UK_HANDLE device, const UK_SYM_KEY_SPEC* spec, UK_HANDLE* operation, bool encrypt)
{
    if (!spec || !spec->key || !operation) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(slot, device, [&](Call&) -> u32 {
        Bytes key(spec->key, spec->key + spec->keyLen);
        const char* name = CipherName(*spec, key);
        if (!name) return UK_SW_WRONG_DATA;
        bool cbc = (spec->mode & ~UK_SYM_MODE_FLAG) == UK_SYM_CBC;
        std::size_t ivLen = spec->algorithm == UK_SYM_AES ? 16 : 8;
        if (cbc && !spec->iv) return UK_SW_WRONG_DATA;
        Bytes iv = cbc ? Bytes(spec->iv, spec->iv + ivLen) : Bytes();
        SymOperation op;
        op.device = device;
        op.cipher = std::make_unique<BlockCipher>();
        if (!op.cipher->Start(name, key, iv, encrypt, spec->padding == UK_SYM_PAD_PKCS5)) return UK_SW_WRONG_DATA;
        *operation = Registry::Instance().Add(std::move(op));
        return UK_OK;
    });
}

u32 OnSym(u32 slot, UK_HANDLE operation, const std::function<u32(SymOperation&)>& body)
{
    std::lock_guard<RegistryLock> guard(Registry::Instance().Mutex());
    SymOperation* op = Registry::Instance().Sym(operation);
    if (!op) return RunOnState(slot, [](State&, bool&) { return UK_ERR_INVALID_HANDLE; });
    return RunOnToken(slot, op->device, [&](Call&) { return body(*op); });
}

u32 SymUpdate(u32 slot, UK_HANDLE operation, const u8* in, u32 inLen, u8* out, u32* outLen)
{
    if (!in || !out || !outLen) return UK_ERR_INVALID_PARAMETER;
    return OnSym(slot, operation, [&](SymOperation& op) -> u32 {
        if (*outLen < inLen + 16) return UK_ERR_BUFFER_TOO_SMALL;
        Bytes result;
        if (!op.cipher->Update(in, inLen, result)) return UK_SW_WRONG_DATA;
        return CopyOut(result, out, outLen);
    });
}

u32 SymFinal(u32 slot, UK_HANDLE operation, u8* out, u32* outLen)
{
    if (!out || !outLen) return UK_ERR_INVALID_PARAMETER;
    return OnSym(slot, operation, [&](SymOperation& op) -> u32 {
        if (*outLen < 16) return UK_ERR_BUFFER_TOO_SMALL;
        Bytes result;
        bool ok = op.cipher->Final(result);
        Registry::Instance().RemoveSym(operation);
        return ok ? CopyOut(result, out, outLen) : UK_SW_WRONG_DATA;
    });
}

u32 OnHash(u32 slot, UK_HANDLE hash, const std::function<u32(HashOperation&)>& body)
{
    std::lock_guard<RegistryLock> guard(Registry::Instance().Mutex());
    HashOperation* op = Registry::Instance().Hash(hash);
    if (!op) return RunOnState(slot, [](State&, bool&) { return UK_ERR_INVALID_HANDLE; });
    return RunOnToken(slot, op->device, [&](Call&) { return body(*op); });
}

} // namespace

u32 UKAPI SymKeyEncInit(UK_HANDLE device, const UK_SYM_KEY_SPEC* spec, UK_HANDLE* operation)
{
    return SymInit(43, device, spec, operation, true);
}
u32 UKAPI SymKeyEncUpdate(UK_HANDLE operation, const u8* in, u32 inLen, u8* out, u32* outLen)
{
    return SymUpdate(44, operation, in, inLen, out, outLen);
}
u32 UKAPI SymKeyEncFinal(UK_HANDLE operation, u8* out, u32* outLen)
{
    return SymFinal(45, operation, out, outLen);
}
u32 UKAPI SymKeyDecInit(UK_HANDLE device, const UK_SYM_KEY_SPEC* spec, UK_HANDLE* operation)
{
    return SymInit(46, device, spec, operation, false);
}
u32 UKAPI SymKeyDecUpdate(UK_HANDLE operation, const u8* in, u32 inLen, u8* out, u32* outLen)
{
    return SymUpdate(47, operation, in, inLen, out, outLen);
}
u32 UKAPI SymKeyDecFinal(UK_HANDLE operation, u8* out, u32* outLen)
{
    return SymFinal(48, operation, out, outLen);
}

u32 UKAPI HashInit(UK_HANDLE device, u32 algorithm, UK_HANDLE* hash)
{
    if (!hash) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(55, device, [&](Call&) -> u32 {
        HashOperation op;
        op.device = device;
        op.digest = std::make_unique<Digest>(algorithm);
        if (!op.digest->Valid()) return UK_SW_WRONG_DATA;
        *hash = Registry::Instance().Add(std::move(op));
        return UK_OK;
    });
}

u32 UKAPI HashUpdate(UK_HANDLE hash, const u8* data, u32 len)
{
    if (!data && len) return UK_ERR_INVALID_PARAMETER;
    return OnHash(56, hash, [&](HashOperation& op) { return op.digest->Update(data, len) ? UK_OK : UK_SW_WRONG_DATA; });
}

u32 UKAPI HashFinal(UK_HANDLE hash, u8* digest, u32* len)
{
    if (!digest || !len) return UK_ERR_INVALID_PARAMETER;
    return OnHash(57, hash, [&](HashOperation& op) -> u32 {
        Bytes value;
        if (!op.digest->Final(value)) return UK_SW_WRONG_DATA;
        u32 status = CopyOut(value, digest, len);
        if (status == UK_OK) Registry::Instance().RemoveHash(hash);
        return status;
    });
}

} // namespace slots
} // namespace tokensim
