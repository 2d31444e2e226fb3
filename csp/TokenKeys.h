// Token wrappers over key objects and hash objects: key-pair generation,
// public-key export and import, and the token hash.
#pragma once

#include "HashObject.h"
#include "KeyObject.h"
#include "TokenSession.h"

#include <windows.h>

#include <cstdint>

// key: algorithm, size (key length in bytes) and identifier set; the
// container record is brought up to date after the generation.
DWORD Token_GenerateKeyPair(TokenSession* session, std::uint8_t containerNumber, KeyObject* key);
// output: SM2 x then y (32 bytes each); RSA the modulus (key length
// bytes). Big-endian.
DWORD Token_ExportPublicKey(TokenSession* session, const KeyObject* key, std::uint8_t* output);
DWORD Token_ImportSm2PublicKeyFromCert(TokenSession* session, KeyObject* key, const std::uint8_t* certificate,
                                       std::uint32_t length);

// Opens the token hash for MD5, SHA-1, SHA-256 and SM3; other algorithms
// open nothing.
DWORD Token_HashInit(TokenSession* session, ALG_ID algId, HashObject* hash);
DWORD Token_HashUpdate(HashObject* hash, const std::uint8_t* data, std::uint32_t length);
// length: room in, value length out.
DWORD FinishHash(HashObject* hash, std::uint8_t* digest, std::uint32_t* length);
