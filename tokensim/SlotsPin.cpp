#include "Session.h"
#include "Slots.h"

#include <string>

namespace tokensim {
namespace slots {
namespace {

using namespace devicelib;

constexpr std::size_t kMinPin = 6;
constexpr std::size_t kMaxPin = 16;

Pin* PinOf(Token& token, u32 type)
{
    if (type == UK_PIN_USER) return &token.user;
    if (type == UK_PIN_ADMIN && token.admin) return &*token.admin;
    return nullptr;
}

} // namespace

// A wrong PIN costs a try and answers 63Cx with the tries left; at none
// left the PIN is blocked and every later presentation answers 6983.
u32 CheckPin(Call& call, u32 type, const u8* pin, u32 len)
{
    if (type != UK_PIN_USER && type != UK_PIN_ADMIN) return UK_SW_WRONG_P1P2;
    Pin* stored = PinOf(call.token, type);
    if (!stored) return UK_SW_NO_SUCH_PIN;
    if (stored->triesLeft == 0) return UK_SW_PIN_BLOCKED;
    bool match = pin && std::string(reinterpret_cast<const char*>(pin), len) == stored->value;
    call.dirty = true;
    bool& loggedIn = type == UK_PIN_USER ? call.session.userLoggedIn : call.session.adminLoggedIn;
    if (!match) {
        --stored->triesLeft;
        loggedIn = false;
        return UK_SW_WRONG_PIN | stored->triesLeft;
    }
    stored->triesLeft = stored->maxTries;
    loggedIn = true;
    return UK_OK;
}

u32 UKAPI Login(UK_HANDLE device, u32 type, u32 type2, const u8* pin, u32 len)
{
    return RunOnToken(27, device, [&](Call& call) -> u32 {
        if (type != type2) return UK_SW_WRONG_P1P2;
        return CheckPin(call, type, pin, len);
    });
}

u32 UKAPI ModifyPIN(UK_HANDLE device, u32 type, u32 type2, const u8* oldPin, u32 oldLen, const u8* newPin, u32 newLen)
{
    return RunOnToken(24, device, [&](Call& call) -> u32 {
        if (type != type2) return UK_SW_WRONG_P1P2;
        if (!newPin || newLen < kMinPin || newLen > kMaxPin) return UK_SW_WRONG_LENGTH;
        u32 status = CheckPin(call, type, oldPin, oldLen);
        if (status != UK_OK) return status;
        Pin* stored = PinOf(call.token, type);
        stored->value.assign(reinterpret_cast<const char*>(newPin), newLen);
        stored->factoryDefault = false;
        return UK_OK;
    });
}

u32 UKAPI GetRetryTimes(UK_HANDLE device, u32 type, u32 type2, u32* info)
{
    if (!info) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(29, device, [&](Call& call) -> u32 {
        if (type != type2 || (type != UK_PIN_USER && type != UK_PIN_ADMIN)) return UK_SW_WRONG_P1P2;
        const Pin* stored = PinOf(call.token, type);
        if (!stored) return UK_SW_NO_SUCH_PIN;
        *info = (stored->triesLeft & UK_RETRY_TRIES_MASK) | (stored->factoryDefault ? UK_RETRY_FACTORY_DEFAULT : 0);
        return UK_OK;
    });
}

} // namespace slots
} // namespace tokensim
