// The signing agent: selects the signing certificate from the key
// containers of the installed providers and signs with it.
#pragma once

#include <windows.h>
#include <oleauto.h>

class CCryptoAgent {
public:
    CCryptoAgent();
    virtual ~CCryptoAgent();

    CCryptoAgent(const CCryptoAgent &) = delete;
    CCryptoAgent &operator=(const CCryptoAgent &) = delete;
};
