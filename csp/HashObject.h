// A hash handle of the provider. MD5, SHA-1, SHA-256 and SM3 run on the
// token; SSL3 SHAMD5 only carries the value a caller sets.
#pragma once

#include "DeviceTable.h"
#include "tokencrypto/Sm3.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>

constexpr std::uint32_t kHashMagic = 0xBCED5698;

constexpr std::uint32_t kHashStateCreated = 0x1000;
constexpr std::uint32_t kHashStateOpen = 0x2000;
constexpr std::uint32_t kHashStateFinished = 0x3000;

// The token of device kind 2 hashes and signs the data itself, so the
// data goes along with the signature request; that copy is bounded.
constexpr std::uint32_t kKeptDataRoom = 0x20000;

constexpr std::uint32_t kAlgSm3 = 0x800F;

// What an SM3 hash gives the container's SM2 exchange key to sign: the
// value (its Z starts it, or the caller set it, or no Z is involved), the
// value of a second stream started with the exchange key's Z (the value
// itself starts with the signature key's), or nothing (no Z to start one).
constexpr std::uint32_t kExchangeTakesValue = 0;
constexpr std::uint32_t kExchangeTakesStream = 1;
constexpr std::uint32_t kExchangeTakesNothing = 2;

struct HashObject {
    std::uint32_t magic;
    std::uint32_t algId;
    std::uint32_t state;
    std::uint64_t tokenHash; // vendor hash handle, 0 when none is open
    devicelib::UK_FUNCTION_LIST* funcs;
    std::uint32_t hashLen;
    std::uint8_t value[68];
    std::uint8_t* keptData; // kKeptDataRoom bytes, or null
    std::uint32_t keptLen;  // bytes hashed so far, copied or not
    std::uint32_t exchangeSource;
    tokencrypto::Sm3Context exchangeStream; // open while the token hash is
    std::uint8_t exchangeValue[32];         // once the token hash is finished
};

// The live hash behind a handle, or null with the reason logged.
HashObject* LookupHashObject(HCRYPTHASH handle);

DWORD CreateHashImpl(HCRYPTPROV hProv, ALG_ID algId, HCRYPTKEY hKey, DWORD flags, HCRYPTHASH* phHash);
DWORD DestroyHashImpl(HCRYPTPROV hProv, HCRYPTHASH hHash);
DWORD HashDataImpl(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* data, DWORD length, DWORD flags);
DWORD HashSessionKeyImpl(HCRYPTPROV hProv, HCRYPTHASH hHash, HCRYPTKEY hKey, DWORD flags);
DWORD SetHashParamImpl(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD param, const BYTE* data, DWORD flags);
DWORD GetHashParamImpl(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD param, BYTE* data, DWORD* dataLen, DWORD flags);
