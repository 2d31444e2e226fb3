// Key pairs on the card: generation, import, export and use. Private
// halves leave the card only through ExportPrivateKey.
#include "Session.h"
#include "Slots.h"

#include <algorithm>
#include <cstring>

namespace tokensim {
namespace slots {
namespace {

using namespace devicelib;
namespace ct = devicelib::container;

constexpr std::size_t kSm2Len = 32;

bool OwnsPair(const Token& token, u8 number)
{
    return number && std::any_of(token.containers.begin(), token.containers.end(), [&](const Container& c) {
               return c.header[ct::kExchangePublic + 1] == number || c.header[ct::kSignaturePublic + 1] == number;
           });
}

// The kind of a reference names the half it reaches, in either algorithm.
bool IsPublicRef(const UK_KEY_REF& ref)
{
    return ref.kind == UK_REF_RSA_PUBLIC || ref.kind == UK_REF_SM2_PUBLIC;
}
bool IsPrivateRef(const UK_KEY_REF& ref)
{
    return ref.kind == UK_REF_RSA_PRIVATE || ref.kind == UK_REF_SM2_PRIVATE;
}

bool ValidRsaBits(u32 bits)
{
    return bits == 1024 || bits == 2048;
}

bool ValidAlgorithm(u32 algorithm, u32 bits)
{
    return (algorithm == UK_ALG_RSA && ValidRsaBits(bits)) || (algorithm == UK_ALG_SM2 && bits == 256);
}

void StoreKey(Token& token, const KeyPair& key)
{
    if (KeyPair* existing = token.FindKey(key.number))
        *existing = key;
    else
        token.keys.push_back(key);
}

Bytes Take(const u8* p, std::size_t len)
{
    return p ? Bytes(p, p + len) : Bytes();
}

bool UsesPrivateKey(u8 usage)
{
    return (usage & (UK_USE_PRIVATE_DECRYPT | UK_USE_PRIVATE_SIGN)) != 0;
}

// The key an operation works with, checked again at every step: a card
// pulled, a container deleted or a secure state cleared ends it.
std::uint32_t RunOnOperation(u32 slot, UK_HANDLE operation, u8 usage,
                             const std::function<u32(Call&, AsymOperation&, const KeyPair&)>& body)
{
    std::lock_guard<RegistryLock> guard(Registry::Instance().Mutex());
    AsymOperation* op = Registry::Instance().Asym(operation);
    if (!op) return RunOnState(slot, [](State&, bool&) { return UK_ERR_INVALID_HANDLE; });
    return RunOnToken(slot, op->device, [&](Call& call) -> u32 {
        if ((op->usage & usage) == 0) return UK_SW_CONDITIONS_NOT_SATISFIED;
        if (op->keyNumber == 0) return body(call, *op, op->material);
        const KeyPair* key = call.token.FindKey(op->keyNumber);
        if (!key || key->algorithm != op->algorithm) return UK_SW_REF_NOT_FOUND;
        if (UsesPrivateKey(usage) && (key->privatePart.empty() || !call.session.userLoggedIn))
            return UK_SW_SECURITY_NOT_SATISFIED;
        return body(call, *op, *key);
    });
}

u32 MaterialFrom(u32 algorithm, const UK_PUBLIC_KEY* source, KeyPair& key)
{
    if (!source || !source->first || !source->second || !ValidAlgorithm(algorithm, source->bits))
        return UK_SW_WRONG_DATA;
    std::size_t len = algorithm == UK_ALG_RSA ? source->bits / 8 : kSm2Len;
    key.algorithm = algorithm;
    key.bits = source->bits;
    key.publicPart = {Take(source->first, len), Take(source->second, len)};
    return ToPkey(key, false) ? UK_OK : UK_SW_WRONG_DATA;
}

} // namespace

u32 UKAPI GenerateKeyPair(UK_HANDLE device, u32 algorithm, u32 bits, u32, u32, const UK_KEY_REF* publicRef,
                          const UK_KEY_REF* privateRef)
{
    if (!publicRef || !privateRef) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(35, device, [&](Call& call) -> u32 {
        if (!call.session.userLoggedIn) return UK_SW_SECURITY_NOT_SATISFIED;
        if (publicRef->number != privateRef->number || !OwnsPair(call.token, publicRef->number))
            return UK_SW_REF_NOT_FOUND;
        if (!ValidAlgorithm(algorithm, bits)) return UK_SW_WRONG_DATA;
        KeyPair key;
        key.number = publicRef->number;
        if (!GenerateKeyPair(algorithm, bits, key)) return UK_SW_CONDITIONS_NOT_SATISFIED;
        StoreKey(call.token, key);
        call.dirty = true;
        return UK_OK;
    });
}

u32 UKAPI ImportPrivateKey(UK_HANDLE device, u32 algorithm, const UK_KEY_REF* ref, const UK_PRIVATE_KEY* source)
{
    if (!ref || !source) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(37, device, [&](Call& call) -> u32 {
        if (!call.session.userLoggedIn) return UK_SW_SECURITY_NOT_SATISFIED;
        if (!IsPrivateRef(*ref) || !OwnsPair(call.token, ref->number)) return UK_SW_REF_NOT_FOUND;
        if (!ValidAlgorithm(algorithm, source->bits) || !source->modulus) return UK_SW_WRONG_DATA;
        KeyPair key;
        key.number = ref->number;
        key.algorithm = algorithm;
        key.bits = source->bits;
        if (algorithm == UK_ALG_SM2) {
            key.privatePart = {Take(source->modulus, kSm2Len)};
            key.publicPart.assign(2, Bytes());
            if (!Sm2PublicFromScalar(key.privatePart[0], key.publicPart[0], key.publicPart[1])) return UK_SW_WRONG_DATA;
        } else {
            std::size_t n = source->bits / 8, h = n / 2;
            const u8* halves[] = {source->prime[0], source->prime[1], source->primeExponent[0],
                                  source->primeExponent[1], source->coefficient};
            if (!source->publicExponent || !source->exponent ||
                std::any_of(std::begin(halves), std::end(halves), [](const u8* p) { return !p; }))
                return UK_SW_WRONG_DATA;
            key.publicPart = {Take(source->modulus, n), Take(source->publicExponent, n)};
            key.privatePart = {Take(source->exponent, n)};
            for (const u8* p : halves) key.privatePart.push_back(Take(p, h));
        }
        if (!ToPkey(key, true)) return UK_SW_WRONG_DATA;
        StoreKey(call.token, key);
        call.dirty = true;
        return UK_OK;
    });
}

u32 UKAPI ExportPrivateKey(UK_HANDLE device, u32 algorithm, const UK_KEY_REF* ref, UK_PRIVATE_KEY_AREAS* out)
{
    if (!ref || !out) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(38, device, [&](Call& call) -> u32 {
        if (!call.session.userLoggedIn) return UK_SW_SECURITY_NOT_SATISFIED;
        const KeyPair* key = call.token.FindKey(ref->number);
        if (!key || key->privatePart.empty()) return UK_SW_REF_NOT_FOUND;
        if (key->algorithm != algorithm) return UK_SW_WRONG_DATA;
        std::memset(out, 0, sizeof *out);
        out->bits = key->bits;
        std::vector<const Bytes*> parts;
        if (algorithm == UK_ALG_RSA) parts = {&key->publicPart[0], &key->publicPart[1]};
        for (const Bytes& b : key->privatePart) parts.push_back(&b);
        for (std::size_t i = 0; i < parts.size() && i < 8; ++i)
            std::memcpy(out->area[i], parts[i]->data(), std::min<std::size_t>(parts[i]->size(), 256));
        return UK_OK;
    });
}

u32 UKAPI ExportPublicKey(UK_HANDLE device, u32 algorithm, const UK_KEY_REF* ref, UK_PUBLIC_KEY* out)
{
    if (!ref || !out || !out->first || !out->second) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(41, device, [&](Call& call) -> u32 {
        const KeyPair* key = call.token.FindKey(ref->number);
        if (!key || key->publicPart.size() != 2) return UK_SW_REF_NOT_FOUND;
        if (key->algorithm != algorithm) return UK_SW_WRONG_DATA;
        std::memcpy(out->first, key->publicPart[0].data(), key->publicPart[0].size());
        std::memcpy(out->second, key->publicPart[1].data(), key->publicPart[1].size());
        out->bits = key->bits;
        return UK_OK;
    });
}

// A public half replaces the one on the card; a private half of the same
// algorithm stays beside it.
u32 UKAPI ImportPublicKey(UK_HANDLE device, u32 algorithm, const UK_KEY_REF* ref, const UK_PUBLIC_KEY* source)
{
    if (!ref || !source) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(42, device, [&](Call& call) -> u32 {
        if (!IsPublicRef(*ref) || !OwnsPair(call.token, ref->number)) return UK_SW_REF_NOT_FOUND;
        KeyPair key;
        u32 status = MaterialFrom(algorithm, source, key);
        if (status != UK_OK) return status;
        key.number = ref->number;
        const KeyPair* existing = call.token.FindKey(ref->number);
        if (existing && existing->algorithm == algorithm && existing->bits == key.bits)
            key.privatePart = existing->privatePart;
        StoreKey(call.token, key);
        call.dirty = true;
        return UK_OK;
    });
}

u32 UKAPI AsymKeyInit(UK_HANDLE device, const UK_ASYM_KEY_SPEC* spec, UK_HANDLE* operation)
{
    if (!spec || !spec->key || !operation) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(49, device, [&](Call& call) -> u32 {
        AsymOperation op;
        op.device = device;
        op.algorithm = spec->algorithm;
        op.usage = spec->usage & ~UK_USE_KEY_MATERIAL;
        op.padding = spec->padding == UK_PAD_NONE ? UK_PAD_NONE : UK_PAD_PKCS1;
        if (op.algorithm != UK_ALG_RSA && op.algorithm != UK_ALG_SM2) return UK_SW_WRONG_DATA;
        if (op.usage == 0) return UK_SW_WRONG_P1P2;
        if (spec->usage & UK_USE_KEY_MATERIAL) {
            if (UsesPrivateKey(op.usage)) return UK_SW_WRONG_P1P2;
            u32 status = MaterialFrom(op.algorithm, static_cast<const UK_PUBLIC_KEY*>(spec->key), op.material);
            if (status != UK_OK) return status;
        } else {
            op.keyNumber = static_cast<const UK_KEY_REF*>(spec->key)->number;
            const KeyPair* key = call.token.FindKey(op.keyNumber);
            if (!key || key->algorithm != op.algorithm) return UK_SW_REF_NOT_FOUND;
            if (UsesPrivateKey(op.usage) && !call.session.userLoggedIn) return UK_SW_SECURITY_NOT_SATISFIED;
            if (key->algorithm == UK_ALG_RSA && spec->keyLen != key->bits / 8) return UK_SW_WRONG_LENGTH;
        }
        *operation = Registry::Instance().Add(std::move(op));
        return UK_OK;
    });
}

u32 UKAPI AsymKeyFinal(UK_HANDLE operation)
{
    return RunOnState(50, [&](State&, bool&) -> u32 {
        if (!Registry::Instance().Asym(operation)) return UK_ERR_INVALID_HANDLE;
        Registry::Instance().RemoveAsym(operation);
        return UK_OK;
    });
}

u32 UKAPI PubkeyEnc(UK_HANDLE operation, const u8* in, u32 inLen, u8* out, u32* outLen)
{
    if (!in || !outLen) return UK_ERR_INVALID_PARAMETER;
    return RunOnOperation(51, operation, UK_USE_PUBLIC_ENCRYPT, [&](Call&, AsymOperation& op, const KeyPair& key) {
        Bytes result;
        u32 status = PublicEncrypt(key, op.padding, Bytes(in, in + inLen), result);
        return status == UK_OK ? CopyOut(result, out, outLen) : status;
    });
}

u32 UKAPI PrikeyDec(UK_HANDLE operation, const u8* in, u32 inLen, u8* out, u32* outLen)
{
    if (!in || !outLen) return UK_ERR_INVALID_PARAMETER;
    return RunOnOperation(52, operation, UK_USE_PRIVATE_DECRYPT, [&](Call&, AsymOperation& op, const KeyPair& key) {
        Bytes result;
        u32 status = PrivateDecrypt(key, op.padding, Bytes(in, in + inLen), result);
        return status == UK_OK ? CopyOut(result, out, outLen) : status;
    });
}

// Mode word 0 signs the caller's block; 1 and 2 (a kind-2 card given the
// signed data itself) hash the data on the card first.
u32 UKAPI PrikeySign(UK_HANDLE operation, u32 modeWord, u32 modeByte, const u8* data, u32 dataLen, u8* out, u32* outLen)
{
    if (!data || !outLen) return UK_ERR_INVALID_PARAMETER;
    return RunOnOperation(53, operation, UK_USE_PRIVATE_SIGN, [&](Call&, AsymOperation& op, const KeyPair& key) {
        Bytes result, input(data, data + dataLen);
        u32 status = modeWord == UK_SIGN_BLOCK ? SignBlock(key, op.padding, input, result)
            : modeWord <= 2                    ? SignData(key, modeByte, input, result)
                                               : UK_SW_WRONG_P1P2;
        return status == UK_OK ? CopyOut(result, out, outLen) : status;
    });
}

u32 UKAPI PubKeyVerify(UK_HANDLE operation, const u8* in, u32 inLen, u8* out, u32* outLen)
{
    if (!in || !out || !outLen) return UK_ERR_INVALID_PARAMETER;
    return RunOnOperation(54, operation, UK_USE_PUBLIC_VERIFY, [&](Call&, AsymOperation& op, const KeyPair& key) {
        Bytes input(in, in + inLen);
        if (key.algorithm == UK_ALG_SM2) return VerifySm2(key, input, Bytes(out, out + *outLen));
        Bytes recovered;
        u32 status = VerifyRecover(key, op.padding, input, recovered);
        return status == UK_OK ? CopyOut(recovered, out, outLen) : status;
    });
}

} // namespace slots
} // namespace tokensim
