// The description of a status as the agent's GetLastErrorDesc gives it.
#pragma once

#include <windows.h>
#include <oleauto.h>

// Room for a description, terminator included.
const int ERROR_DESC_CCH = 512;

// The text of hrStatus followed by "\n(0x%08x)": own codes take their text
// from the string table of hModule in the thread's UI language, other
// statuses the system's message text. A code without a text gives just the
// line feed and the code. *pbstrDesc is a new BSTR the caller frees.
// Returns 0, E_POINTER for a null out-pointer or E_OUTOFMEMORY.
HRESULT FormatErrorDesc(HMODULE hModule, HRESULT hrStatus, BSTR *pbstrDesc);
