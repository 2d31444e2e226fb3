// The token behind a provider context.
#pragma once

#include "DeviceTable.h"

#include <cstdint>

constexpr unsigned kTokenPinRoom = 32;

struct TokenSession {
    char deviceName[devicelib::UK_NAME_LEN]; // as EnumToken gave it
    std::uint8_t pin[kTokenPinRoom];
    std::uint8_t pinLength;
    std::uint32_t pinGeneration; // of the cache entry the PIN was taken from or given to
    std::uint32_t deviceKind;    // 2: the token keeps and hashes the signed data
    std::uint64_t device;
    devicelib::UK_FUNCTION_LIST* funcs;
};
