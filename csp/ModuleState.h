// Process-wide state of the provider module, set up at process attach and
// torn down at process detach.
#pragma once

#include <windows.h>

extern HMODULE g_hModule;
// Serialises acquiring, releasing, provider-parameter queries and
// signatures; taken before PinCacheLock, never after.
extern CRITICAL_SECTION ProviderLock;
// 1 while a CPSignHash call is inside ProviderLock; read outside it.
extern volatile LONG SigningInProgress;
