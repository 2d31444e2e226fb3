// CryptoAPI key blobs: session, public and private keys in and out.
#pragma once

#include <windows.h>
#include <wincrypt.h>

DWORD ImportKeyImpl(HCRYPTPROV hProv, const BYTE* data, DWORD dataLen, HCRYPTKEY hPubKey, DWORD flags,
                    HCRYPTKEY* phKey);
DWORD ExportKeyImpl(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey, DWORD blobType, BYTE* data, DWORD* dataLen);
