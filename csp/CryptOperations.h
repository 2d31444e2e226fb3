// The provider's cryptographic operations: signatures on the token after
// a PIN prompt, their verification, and encryption and decryption.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>

// Results of the check of data kept for signing.
constexpr DWORD kSignedXmlPassed = 0;
constexpr DWORD kSignedXmlUnreadable = 1;
constexpr DWORD kSignedXmlEmptyField = 0x10000001;
constexpr DWORD kSignedXmlFieldTooLong = 0x10000003;

DWORD SignHashImpl(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD keySpec, DWORD flags, BYTE* signature,
                   DWORD* signatureLen);
DWORD VerifySignatureImpl(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* signature, DWORD signatureLen,
                          HCRYPTKEY hPubKey, DWORD flags);
DWORD EncryptImpl(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL final, DWORD flags, BYTE* data,
                  DWORD* dataLen, DWORD bufferLen);
DWORD DecryptImpl(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL final, DWORD flags, BYTE* data,
                  DWORD* dataLen);

// The UTF-8 XML that a device-kind-2 token is about to sign: each text
// under its T/D element must be present and at most 255 characters.
DWORD ParseSignedXml(const std::uint8_t* data, std::uint32_t length);
