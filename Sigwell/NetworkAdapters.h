// Whether a network adapter is a physical one of this machine.
#pragma once

#include <windows.h>

// The adapter's connection key under the network adapter class names a
// "PnPInstanceId"; a value beginning "PCI" or "USB" marks a local adapter.
// Returns 0 with *pbLocal set, -1 for a null or empty name, E_OUTOFMEMORY,
// or the registry's error code. Every key is closed again.
LONG IsLocalAdapter(const char *pszAdapterName, BOOL *pbLocal);
