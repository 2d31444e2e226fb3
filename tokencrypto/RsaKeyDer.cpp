#include "tokencrypto/RsaKeyDer.h"

#include <cstring>

namespace tokencrypto {
namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kInteger = 0x02;

// Definite lengths only, in at most four length octets, and never past end.
bool ReadLength(const uint8_t* der, uint32_t end, uint32_t* position, uint32_t* contentLength)
{
    if (*position >= end) return false;
    const uint8_t first = der[(*position)++];
    if (first < 0x80) {
        *contentLength = first;
    } else {
        const uint32_t count = first & 0x7F;
        if (count == 0 || count > 4 || count > end - *position) return false; // 0x80: indefinite
        uint32_t value = 0;
        for (uint32_t i = 0; i < count; ++i) value = (value << 8) | der[(*position)++];
        *contentLength = value;
    }
    return *contentLength <= end - *position;
}

uint32_t ReadInteger(const uint8_t* der, uint32_t end, uint32_t* position, uint8_t* field, uint32_t fieldLength)
{
    if (*position >= end || der[*position] != kInteger) return DER_ERR_BAD_DATA;
    ++*position;
    return DerGetLength(der, end, position, field, fieldLength);
}

} // namespace

uint32_t DerGetLength(const uint8_t* der, uint32_t length, uint32_t* position, uint8_t* field, uint32_t fieldLength)
{
    uint32_t contentLength = 0;
    if (!ReadLength(der, length, position, &contentLength)) return DER_ERR_BAD_DATA;
    const uint8_t* content = der + *position;
    *position += contentLength;
    if (contentLength > 0 && content[0] == 0) {
        ++content;
        --contentLength;
    }
    if (contentLength > fieldLength) return DER_ERR_BAD_DATA;
    std::memset(field, 0, fieldLength - contentLength);
    std::memcpy(field + fieldLength - contentLength, content, contentLength);
    return DER_OK;
}

uint32_t DerDecodeRSAKey(const uint8_t* der, uint32_t length, RsaPrivateKey* key)
{
    std::memset(key, 0, sizeof *key);
    uint32_t position = 1;
    uint32_t outerLength = 0;
    if (length < 2 || der[0] != kSequence || !ReadLength(der, length, &position, &outerLength)) {
        return DER_ERR_BAD_DATA;
    }
    const uint32_t end = position + outerLength;
    key->bits = outerLength <= 1024 ? 1024 : 2048;
    const uint32_t n = key->bits / 8;
    const uint32_t h = n / 2;

    uint8_t version[4];
    uint32_t result = ReadInteger(der, end, &position, version, sizeof version);
    uint8_t* const fields[] = {key->modulus,  key->publicExponent,   key->exponent,         key->prime[0],
                               key->prime[1], key->primeExponent[0], key->primeExponent[1], key->coefficient};
    const uint32_t lengths[] = {n, n, n, h, h, h, h, h};
    for (unsigned i = 0; i < 8 && result == DER_OK; ++i) {
        result = ReadInteger(der, end, &position, fields[i], lengths[i]);
    }
    if (result != DER_OK) std::memset(key, 0, sizeof *key);
    return result;
}

} // namespace tokencrypto
