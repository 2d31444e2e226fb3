// UTF-16 and UTF-8 text across the JSON and NPAPI boundaries, and the ANSI
// text of CryptoAPI's providers.
#pragma once

#include <windows.h>

// Both hand out a new zero-terminated buffer (delete[], also after a
// failure that left one behind) and its length without the terminator:
// bytes for UTF-8, characters for UTF-16. Invalid input sequences are
// replaced the way the platform's converter does. Returns 0, E_POINTER for
// a null text or out-pointer, E_OUTOFMEMORY, or the converter's last error
// as 0x8007xxxx.
HRESULT UTF16ToUTF8(const wchar_t *pwszText, char **ppszUTF8, int *pnLength);
HRESULT UTF8ToUTF16(const char *pszText, wchar_t **ppwszUTF16, int *pnLength);
// The same in the system's ANSI code page, as CryptoAPI converts the names
// and texts a provider takes and hands out.
HRESULT UTF16ToANSI(const wchar_t *pwszText, char **ppszANSI, int *pnLength);
HRESULT ANSIToUTF16(const char *pszText, wchar_t **ppwszUTF16, int *pnLength);

// A new copy (delete[]) of a zero-terminated UTF-8 text in which every
// byte that does not belong to a well-formed sequence is replaced by
// U+FFFD; null when no memory is had.
char *NewWellFormedUTF8(const char *pszText);
