// Token wrappers that open and close a private- or public-key operation on
// a key object.
#pragma once

#include "KeyObject.h"
#include "TokenSession.h"

#include <windows.h>

#include <cstdint>

enum AsymKeyUsage : std::uint32_t {
    ASYM_PUBLIC_ENCRYPT = 1,
    ASYM_PRIVATE_DECRYPT = 2,
    ASYM_PRIVATE_SIGN = 3,
    ASYM_PUBLIC_VERIFY = 4
};

// 0 with the key's operation handle open and its state 0x2000; NTE_FAIL.
DWORD Token_AsymKeyInit(TokenSession* session, AsymKeyUsage usage, KeyObject* key);
// 0 with the handle cleared and the state 0x3000; NTE_FAIL.
DWORD Token_AsymKeyFinal(KeyObject* key);
