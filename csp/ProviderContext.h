// A provider context (hProv): one caller bound to one key container on
// one token, with the container's two key pairs.
#pragma once

#include "KeyObject.h"
#include "TokenAccess.h"
#include "TokenSession.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>

constexpr std::uint32_t kProviderMagic = 0x87345612;

// A name of kMaxContainerName characters and its zero.
constexpr unsigned kContainerNameRoom = kMaxContainerName + 1;

constexpr wchar_t kProviderNameW[] = L"VESK FOR LORVIN CSP v1.1.0";
constexpr char kProviderName[] = "VESK FOR LORVIN CSP v1.1.0";
constexpr DWORD kProviderType = 1;

constexpr DWORD kSignatureKeyId = 474;
constexpr DWORD kExchangeKeyId = 475;

enum NewKeySetState : std::uint32_t { NEWKEYSET_NONE = 0, NEWKEYSET_CREATED = 1, NEWKEYSET_KEY_GENERATED = 2 };

struct ProviderContext {
    std::uint32_t magic;
    std::uint32_t flags; // as acquired
    TokenSession session;
    std::uint32_t algIndex;
    std::uint32_t algExIndex;
    std::uint32_t containerIndex;
    HWND clientWindow; // owner of the PIN dialogs and message boxes
    char containerName[kContainerNameRoom];
    std::uint8_t containerNumber; // 0: the context has no container
    KeyObject signatureKey;
    KeyObject exchangeKey;
    std::uint32_t newKeySetState;
};

// The live context behind a handle, or null with the reason logged.
ProviderContext* LookupProviderContext(HCRYPTPROV handle);

// Verify contexts and contexts acquired without a name have no container:
// operations that change one are refused on them.
inline bool HasContainer(const ProviderContext* context)
{
    return context->containerNumber != 0 && context->session.funcs != nullptr;
}

DWORD AcquireContextImpl(HCRYPTPROV* phProv, const char* containerName, DWORD flags);
DWORD ReleaseContextImpl(HCRYPTPROV hProv, DWORD flags);
DWORD GetProvParamImpl(HCRYPTPROV hProv, DWORD param, BYTE* data, DWORD* dataLen, DWORD flags);
DWORD SetProvParamImpl(HCRYPTPROV hProv, DWORD param, const BYTE* data);
// Drops the container list a context's enumeration holds; at its release.
void ForgetContainerListing(const ProviderContext* context);
