#include "tokencrypto/RsaBlinding.h"

#include <cstring>
#include <mutex>

#include "tokencrypto/RandomPool.h"
#include "tokencrypto/SecureZero.h"
#include "tokencrypto/SystemRandom.h"

namespace tokencrypto {
namespace {

// A pair is squared after each use, which keeps it a valid pair for a
// new r^2, and drawn afresh after this many uses.
constexpr uint32_t kUsesPerDraw = 32;
constexpr unsigned kSlots = 8;

struct Slot {
    uint32_t n[BIGNUM_MAX_DIGITS];
    uint32_t e[BIGNUM_MAX_DIGITS];
    RsaBlindingPair pair;
    uint32_t uses; // of this draw; 0: empty
};

// The slots hold blinding values, which unblind whatever they masked:
// cleared when the library goes away.
struct Cache {
    std::mutex lock;
    Slot slots[kSlots] = {};
    unsigned nextVictim = 0;

    ~Cache() { SecureZero(slots, sizeof slots); }

    Slot* Find(const uint32_t* n, const uint32_t* e)
    {
        for (Slot& slot : slots) {
            if (slot.uses != 0 && std::memcmp(slot.n, n, sizeof slot.n) == 0 &&
                std::memcmp(slot.e, e, sizeof slot.e) == 0) {
                return &slot;
            }
        }
        return nullptr;
    }

    Slot* Claim(const uint32_t* n, const uint32_t* e)
    {
        Slot* slot = Find(n, e);
        if (slot == nullptr) {
            slot = &slots[nextVictim];
            nextVictim = (nextVictim + 1) % kSlots;
            std::memcpy(slot->n, n, sizeof slot->n);
            std::memcpy(slot->e, e, sizeof slot->e);
        }
        return slot;
    }
};

// Made when the image is loaded, not on first use, for the reason given
// at the SM2 curve.
Cache g_cache;

Cache& TheCache()
{
    return g_cache;
}

// Hands out the slot's pair and moves it on to the next one.
void UseSlot(Slot* slot, const CtModulus& modN, RsaBlindingPair* pair)
{
    *pair = slot->pair;
    CtModulus_Mul(modN, slot->pair.a, slot->pair.a, slot->pair.a);
    CtModulus_Mul(modN, slot->pair.aInv, slot->pair.aInv, slot->pair.aInv);
    ++slot->uses;
}

// A number below n from the system generator: one bit shorter than n,
// never zero. False when the generator fails or gives only zeros.
bool DrawBelow(uint32_t* r, const uint32_t* n, uint32_t nDigits)
{
    const uint32_t bits = BigNum_Bits(n, nDigits);
    uint8_t bytes[4 * BIGNUM_MAX_DIGITS];
    bool drawn = false;
    for (unsigned draw = 0; draw < RANDOM_MAX_DRAWS && !drawn; ++draw) {
        if (!SystemRandom_GetBytes(bytes, 4 * nDigits)) break;
        BigNum_Decode(r, nDigits, bytes, 4 * nDigits);
        for (uint32_t bit = bits - 1; bit < 32 * nDigits; ++bit) r[bit / 32] &= ~(1u << (bit % 32));
        drawn = !BigNum_IsZero(r, nDigits);
    }
    SecureZero(bytes, sizeof bytes);
    return drawn;
}

// r^-1 through (r s)^-1 s, so that the variable-time inverse sees only a
// product that tells nothing about r.
bool DrawPair(RsaBlindingPair* pair, const CtModulus& modN, const uint32_t* n, const uint32_t* e)
{
    const uint32_t nDigits = modN.digits;
    uint32_t r[BIGNUM_MAX_DIGITS] = {}, s[BIGNUM_MAX_DIGITS] = {}, t[BIGNUM_MAX_DIGITS] = {};
    if (!DrawBelow(r, n, nDigits) || !DrawBelow(s, n, nDigits)) return false;
    *pair = {};
    CtModulus_Mul(modN, t, r, s);
    CtModulus_InverseOfPublic(modN, pair->aInv, t);
    CtModulus_Mul(modN, pair->aInv, pair->aInv, s);
    CtModulus_ExpPublic(modN, pair->a, r, e, BigNum_Digits(e, BIGNUM_MAX_DIGITS));
    SecureZeroAll(r, s, t);
    return true;
}

} // namespace

bool RsaBlinding_Take(RsaBlindingPair* pair, const CtModulus& modN, const uint32_t* n, const uint32_t* e)
{
    Cache& cache = TheCache();
    {
        std::lock_guard<std::mutex> guard(cache.lock);
        Slot* slot = cache.Find(n, e);
        if (slot != nullptr && slot->uses < kUsesPerDraw) {
            UseSlot(slot, modN, pair);
            return true;
        }
    }
    // Drawn outside the lock: other keys' operations need not wait for it.
    RsaBlindingPair fresh;
    if (!DrawPair(&fresh, modN, n, e)) return false;
    std::lock_guard<std::mutex> guard(cache.lock);
    Slot* slot = cache.Claim(n, e);
    slot->pair = fresh;
    slot->uses = 0;
    UseSlot(slot, modN, pair);
    SecureZero(&fresh, sizeof fresh);
    return true;
}

} // namespace tokencrypto
