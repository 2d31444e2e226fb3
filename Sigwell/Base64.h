// Base64 text (RFC 4648 alphabet) of signatures and certificates.
#pragma once

#include <windows.h>
#include <oleauto.h>

enum : DWORD {
    BASE64_NO_PADDING = 0x1,     // a final group of 1 or 2 bytes gets no "="
    BASE64_NO_LINE_BREAKS = 0x2, // otherwise lines of 76 characters end in CR LF
};

// Encodes cbData bytes into a new zero-terminated text (delete[]) and hands
// back its length in characters. Returns 0, E_INVALIDARG for no data,
// E_POINTER for a null out-pointer or E_OUTOFMEMORY; on failure no text is
// handed out.
HRESULT Base64EncodeEx(DWORD dwFlags, char **ppszText, const BYTE *pbData, DWORD cbData, DWORD *pcchText);

// The same text handed out as a new BSTR (SysFreeString) of the same
// characters, and its length when pcchText is given. On failure no string
// is handed out.
HRESULT Base64EncodeToBSTR(DWORD dwFlags, const BYTE *pbData, DWORD cbData, BSTR *pbstrText, DWORD *pcchText);
