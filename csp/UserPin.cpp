#include "UserPin.h"

#include "DebugLog.h"
#include "MessageTable.h"
#include "PinCache.h"
#include "PinShade.h"
#include "ProviderContext.h"

#include <cstring>

namespace {

constexpr DWORD kCancelled = 1223;
constexpr DWORD kPinLocked = 212;
constexpr std::uint32_t kFactoryDefaultAbove = 0xFFFFFF;
constexpr unsigned kMessageRoom = 1024;

std::uint32_t ReadRetryInfo(const TokenSession& session, std::uint32_t* info)
{
    if (!session.funcs) return devicelib::UK_ERR_NOT_INITIALIZED;
    return session.funcs->GetRetryTimes(session.device, devicelib::UK_PIN_USER, devicelib::UK_PIN_USER, info);
}

// Tries left, or fallback when the token cannot tell.
std::uint32_t TriesLeft(const TokenSession& session, std::uint32_t fallback)
{
    std::uint32_t info = 0;
    std::uint32_t status = ReadRetryInfo(session, &info);
    if (status != devicelib::UK_OK) {
        LogLine("---->GetRetryTimes Error. Code : ");
        LogCode(status);
        return fallback;
    }
    return info & 0xFFFF;
}

void ShowPinMessage(HWND owner, const wchar_t* text)
{
    MessageBoxW(owner, text, GetMessageTable()->texts[MSG_ERROR_TITLE], MB_OK);
}

// Keeps a verified PIN where later operations on the token find it.
void KeepPin(TokenSession& session, const std::uint8_t* pin, std::uint32_t length)
{
    std::memcpy(session.pin, pin, length);
    session.pinLength = static_cast<std::uint8_t>(length);
    PinCache_Store(&session);
}

// A cached PIN the token refused (changed elsewhere, say) would cost a try
// each time it were presented: it goes from the session, the cache and
// every other session's copy.
void ForgetPin(TokenSession& session)
{
    SecureZeroMemory(session.pin, sizeof session.pin);
    session.pinLength = 0;
    PinCache_Refused(&session);
}

// The caller's answer for a PIN the token would not take: blocked, or its
// own failure, whose status means nothing to CryptoAPI callers.
DWORD PinRefused(std::uint32_t status)
{
    if (devicelib::IsWrongPin(status) || status == devicelib::UK_SW_PIN_BLOCKED)
        return static_cast<DWORD>(SCARD_W_CHV_BLOCKED);
    return static_cast<DWORD>(NTE_FAIL);
}

} // namespace

DWORD VerifyUserPin(ProviderContext* context, bool cachedPinAllowed)
{
    const wchar_t* const* texts = GetMessageTable()->texts;
    TokenSession& session = context->session;

    std::uint32_t info = 0;
    std::uint32_t status = ReadRetryInfo(session, &info);
    if (status != devicelib::UK_OK) {
        LogLine("---->GetRetryTimes Error. Code : ");
        LogCode(status);
        LogLine("--->dev_IsDefaultPIN err\n");
        return static_cast<DWORD>(NTE_BAD_DATA);
    }
    if (info > kFactoryDefaultAbove) {
        LogLine("--->pin is default\n");
        return kCancelled;
    }
    if (cachedPinAllowed) PinCache_Refresh(&session);
    if (cachedPinAllowed && session.pinLength) {
        if (Token_Login(&session, session.pin, session.pinLength) == 0) return 0;
        ForgetPin(session);
    }

    std::uint32_t triesLeft = TriesLeft(session, 0);
    if (!triesLeft) return kPinLocked;
    // A caller that asked for no user interface gets no prompt either.
    if (context->flags & CRYPT_SILENT) return static_cast<DWORD>(NTE_SILENT_CONTEXT);

    for (;;) {
        std::uint8_t pin[kTokenPinRoom];
        std::uint32_t length = 0;
        DWORD shown = ShowPinShade(context->clientWindow, &session, pin, &length);
        if (shown != 0) {
            SecureZeroMemory(pin, sizeof pin);
            return shown == kPinShadeFailed ? kCancelled : PinRefused(shown);
        }
        status = Token_Login(&session, pin, length);
        if (status == 0) KeepPin(session, pin, length);
        SecureZeroMemory(pin, sizeof pin);
        if (status == 0) return 0;

        wchar_t message[kMessageRoom];
        if (devicelib::IsWrongPin(status)) {
            triesLeft = TriesLeft(session, triesLeft);
            if (triesLeft) {
                wsprintfW(message, texts[MSG_WRONG_PIN], static_cast<int>(triesLeft));
                ShowPinMessage(context->clientWindow, message);
                continue;
            }
            ShowPinMessage(context->clientWindow, texts[MSG_PIN_LOCKED]);
            return PinRefused(status);
        }
        if (status == devicelib::UK_SW_PIN_BLOCKED) {
            ShowPinMessage(context->clientWindow, texts[MSG_PIN_LOCKED]);
            return PinRefused(status);
        }
        wsprintfW(message, texts[MSG_OPERATION_FAILED], status);
        ShowPinMessage(context->clientWindow, message);
        return PinRefused(status);
    }
}
