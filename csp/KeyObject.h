// A key handle of the provider: a key pair of the container on the token,
// a session key whose bytes live here, or an imported public key.
#pragma once

#include "DeviceTable.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>

constexpr std::uint32_t kKeyMagic = 0xABCD1234;

constexpr std::uint32_t kKeyStateFresh = 0x1000;
constexpr std::uint32_t kKeyStateOpen = 0x2000; // low byte 1: encrypting
constexpr std::uint32_t kKeyStateSymOpen = 0x2001;
constexpr std::uint32_t kKeyStateStreamDone = 0x3000;
constexpr std::uint32_t kKeyStateBlockDone = 0x3001;

constexpr std::uint32_t kPermissionsSignatureKey = 0x1DA;
constexpr std::uint32_t kPermissionsExchangeKey = 0x1DB;
constexpr std::uint32_t kPermissionsSessionKey = 0xFF;

constexpr std::uint32_t kKeyModeCbc = 1;
constexpr std::uint32_t kKeyModeEcb = 2;
constexpr std::uint32_t kKeyPaddingPkcs5 = 1;

constexpr std::uint32_t kKeyBytesRoom = 256;

// Offsets into the 6-byte identifier that a token key keeps in its key
// bytes: the references of the public half, the private half and the
// certificate, {kind, number} each.
constexpr unsigned kKeyIdPublic = 0;
constexpr unsigned kKeyIdPrivate = 2;
constexpr unsigned kKeyIdCert = 4;

struct KeyObject {
    std::uint32_t magic;
    std::uint32_t state;
    std::uint32_t algId;
    std::uint32_t permissions;
    std::uint32_t inObject; // 1: the key bytes live here, not on the token
    std::uint32_t mode;     // RC4: the stream index i
    std::uint32_t padding;  // RC4: the stream index j
    std::uint32_t salted;
    std::uint8_t iv[64];    // or the RC4 salt
    std::uint32_t blockLen; // bytes; RSA and SM2: the key size
    std::uint32_t keyLen;   // bytes; 0: no key
    std::uint8_t key[kKeyBytesRoom];
    std::uint8_t rc4State[256];
    std::uint64_t operation;            // vendor operation handle, 0 when none is open
    devicelib::UK_FUNCTION_LIST* funcs; // of the open operation
};

inline bool IsRsaAlg(std::uint32_t algId)
{
    return algId == CALG_RSA_SIGN || algId == CALG_RSA_KEYX;
}

constexpr std::uint32_t kAlgSm2Sign = 0x3E00;
constexpr std::uint32_t kAlgSm2Keyx = 0xBE00;
inline bool IsSm2Alg(std::uint32_t algId)
{
    return algId == kAlgSm2Sign || algId == kAlgSm2Keyx;
}
inline bool IsSignatureAlg(std::uint32_t algId)
{
    return algId == CALG_RSA_SIGN || algId == kAlgSm2Sign;
}

// A zeroed heap object with the presets of a key made here; null when the
// heap is exhausted. Not yet in the key list.
KeyObject* NewSessionKeyObject();

// The live key behind a handle, or null with the reason logged.
KeyObject* LookupKeyObject(HCRYPTKEY handle);

DWORD GenKeyImpl(HCRYPTPROV hProv, ALG_ID algId, DWORD flags, HCRYPTKEY* phKey);
DWORD DeriveKeyImpl(HCRYPTPROV hProv, ALG_ID algId, HCRYPTHASH hHash, DWORD flags, HCRYPTKEY* phKey);
DWORD DestroyKeyImpl(HCRYPTPROV hProv, HCRYPTKEY hKey);
DWORD GetUserKeyImpl(HCRYPTPROV hProv, DWORD keySpec, HCRYPTKEY* phKey);
DWORD SetKeyParamImpl(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD param, const BYTE* data, DWORD flags);
DWORD GetKeyParamImpl(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD param, BYTE* data, DWORD* dataLen);
