#include "KeyBlobs.h"

#include "ProviderContext.h"

// Key blobs are not supported by this provider yet: every import and
// export is refused, never reported as done.
DWORD ImportKeyImpl(HCRYPTPROV hProv, const BYTE*, DWORD, HCRYPTKEY, DWORD, HCRYPTKEY*)
{
    if (!LookupProviderContext(hProv)) return static_cast<DWORD>(NTE_BAD_UID);
    return ERROR_CALL_NOT_IMPLEMENTED;
}

DWORD ExportKeyImpl(HCRYPTPROV hProv, HCRYPTKEY, HCRYPTKEY, DWORD, BYTE*, DWORD*)
{
    if (!LookupProviderContext(hProv)) return static_cast<DWORD>(NTE_BAD_UID);
    return ERROR_CALL_NOT_IMPLEMENTED;
}
