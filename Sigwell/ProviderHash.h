// Provider and hash handles released on every path.
#pragma once

#include <windows.h>
#include <wincrypt.h>

class ProviderHash {
public:
    ProviderHash() = default;
    ProviderHash(const ProviderHash &) = delete;
    ProviderHash &operator=(const ProviderHash &) = delete;
    ~ProviderHash()
    {
        if (m_hHash != 0) CryptDestroyHash(m_hHash);
        if (m_hProv != 0 && m_bCallerFree) CryptReleaseContext(m_hProv, 0);
    }

    HCRYPTPROV m_hProv = 0;
    // False where the provider belongs to a certificate's cached key.
    BOOL m_bCallerFree = TRUE;
    HCRYPTHASH m_hHash = 0;
};
