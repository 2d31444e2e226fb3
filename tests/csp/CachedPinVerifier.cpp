// Stands in for the PIN prompt in tests that never show it: the user PIN
// is verified only from the context's cached PIN.
#include "ProviderContext.h"
#include "UserPin.h"

DWORD VerifyUserPin(ProviderContext* context, bool cachedPinAllowed)
{
    constexpr DWORD kCancelled = 1223;
    TokenSession& session = context->session;
    if (!cachedPinAllowed || session.pinLength == 0) return kCancelled;
    return Token_Login(&session, session.pin, session.pinLength);
}
