// Token wrapper that opens a block-cipher operation on a session key.
#pragma once

#include "KeyObject.h"
#include "TokenSession.h"

#include <windows.h>

// DES, 3DES and AES keys with their mode, padding and IV: 0 with the
// key's operation handle open, its state 0x2001 (encrypting) or 0x2000
// (decrypting); NTE_BAD_KEY for other algorithms; NTE_FAIL.
DWORD Token_SymKeyInit(TokenSession* session, KeyObject* key, bool encrypt);
