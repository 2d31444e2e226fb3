// The plug-in's calls into the browser, through its copy of the browser's
// table, and the copy of script strings into terminated buffers.
#pragma once

#include "NPAPI.h"

#include <windows.h>

void *NPN_MemAlloc(uint32_t size);
void NPN_MemFree(void *ptr);
NPIdentifier NPN_GetStringIdentifier(const NPUTF8 *name);
NPUTF8 *NPN_UTF8FromIdentifier(NPIdentifier identifier);
// An object of the recorded scriptable class.
NPObject *NPN_CreateObject(NPP instance);
NPObject *NPN_RetainObject(NPObject *obj);
void NPN_ReleaseObject(NPObject *obj);

// A new[] copy of length bytes with a terminator appended; the caller
// frees it with delete[]. Returns 0 or E_OUTOFMEMORY.
HRESULT ConverNPStringtoNULLEndString(char **ppszText, const NPUTF8 *pszCharacters, uint32_t nLength);
