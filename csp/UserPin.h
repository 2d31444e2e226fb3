// Verification of the user PIN before a private key is used.
#pragma once

#include <windows.h>

#include <cstdint>

struct ProviderContext;

// Set by the first signature in a context that made its key pair under
// CRYPT_NEWKEYSET; while set, key generation and private-key import may
// log in with the cached PIN.
extern std::uint32_t g_PinVerified;

// 0 when the user PIN of the context's token is verified, asking the user
// unless a cached PIN is allowed and accepted.
DWORD VerifyUserPin(ProviderContext* context, bool cachedPinAllowed);
