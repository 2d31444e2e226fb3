// Token wrappers over key objects and hash objects: key-pair generation,
// public-key export and import, and the token hash.
#pragma once

#include "HashObject.h"
#include "KeyObject.h"
#include "TokenSession.h"

#include <windows.h>

#include <cstdint>

// A container holds keys of one algorithm.
constexpr DWORD kOtherAlgorithmContainer = 8611;

// key: algorithm, size (key length in bytes) and identifier set; the
// container record is brought up to date after the generation. A record
// that names a key of the other algorithm by now (another connection's)
// refuses it with kOtherAlgorithmContainer before the token changes; so do
// both imports.
DWORD Token_GenerateKeyPair(TokenSession* session, std::uint8_t containerNumber, KeyObject* key);
// output: SM2 x then y (32 bytes each); RSA the modulus (key length
// bytes). Big-endian.
DWORD Token_ExportPublicKey(TokenSession* session, const KeyObject* key, std::uint8_t* output);
// output: RSA the body of a CryptoAPI PRIVATEKEYBLOB (modulus, both primes,
// both prime exponents, coefficient, private exponent; little-endian),
// 9 halves of the key length; SM2 the scalar little-endian in 64 bytes.
DWORD Token_ExportPrivateKey(TokenSession* session, const KeyObject* key, std::uint8_t* output);
// data: such a PRIVATEKEYBLOB body of bits / 8 * 9 / 2 bytes, or a DER
// RSAPrivateKey. key: its algorithm and identifier set; both halves go to
// the token and the container record is brought up to date.
DWORD Token_ImportRsaKeyPair(TokenSession* session, std::uint8_t containerNumber, KeyObject* key, std::uint32_t bits,
                             const std::uint8_t* data, std::uint32_t length);
// scalar: bits / 8 bytes, big-endian.
DWORD Token_ImportSm2PrivateKey(TokenSession* session, std::uint8_t containerNumber, KeyObject* key, std::uint32_t bits,
                                const std::uint8_t* scalar);

// Opens the token hash for MD5, SHA-1, SHA-256 and SM3; other algorithms
// open nothing. Updating and finishing carry an SM3 hash's exchange stream
// along.
DWORD Token_HashInit(TokenSession* session, ALG_ID algId, HashObject* hash);
DWORD Token_HashUpdate(HashObject* hash, const std::uint8_t* data, std::uint32_t length);
// length: room in, value length out.
DWORD FinishHash(HashObject* hash, std::uint8_t* digest, std::uint32_t* length);
