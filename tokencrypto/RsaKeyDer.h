// DER decoding of a PKCS#1 RSAPrivateKey into the token's key record.
#pragma once

#include <cstdint>

#include "tokencrypto/Rsa.h"

namespace tokencrypto {

constexpr uint32_t DER_OK = 0;
constexpr uint32_t DER_ERR_BAD_DATA = 0x80090005; // NTE_BAD_DATA

// bits is 1024 for an outer length of at most 1024 bytes, else 2048. With
// n = bits / 8, the modulus and both exponents are written n bytes long and
// the five CRT values n / 2 bytes long, each at the start of its field,
// right-aligned within that length; the record is cleared first.
uint32_t DerDecodeRSAKey(const uint8_t* der, uint32_t length, RsaPrivateKey* key);
// Reads the length at *position (which points just past a tag), copies the
// content without one leading zero byte right-aligned into field
// (fieldLength bytes) and moves *position past the element.
uint32_t DerGetLength(const uint8_t* der, uint32_t length, uint32_t* position, uint8_t* field, uint32_t fieldLength);

} // namespace tokencrypto
