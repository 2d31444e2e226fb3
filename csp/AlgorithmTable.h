// The algorithms the provider lists, in the order it enumerates them.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>

constexpr std::uint32_t kAlgorithmCount = 17;
constexpr DWORD kAllProtocols = 0x3F;

struct AlgorithmEntry {
    ALG_ID algId;
    const char* name;
    const char* longName;
    DWORD defaultBits;
    DWORD minBits;
    DWORD maxBits;
};

extern const AlgorithmEntry kAlgorithms[kAlgorithmCount];

// False for an index past the table.
bool FillEnumAlgs(std::uint32_t index, PROV_ENUMALGS* record);
bool FillEnumAlgsEx(std::uint32_t index, PROV_ENUMALGS_EX* record);
