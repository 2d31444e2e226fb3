// The token's named mutex: the device library creates it when it opens a
// token, and every connection to that token, in any process and through
// either token library, takes it to keep the token to itself.
#pragma once

#include <windows.h>

namespace devicelib {

// How long a change made of several calls waits for a token another
// connection holds.
constexpr DWORD kTokenHoldTimeout = 30000;

// "Global\" and the device name from its sixth character on. Null, with
// the system's last error, when the library has not created it.
HANDLE OpenTokenMutex(const char* deviceName);

enum class TokenWait { Taken, TimedOut, Cancelled, Failed };

// Waits for the mutex, or for cancel (may be null) to be signalled first.
// A holder that ended without releasing leaves the mutex to the waiter:
// Taken. Failed leaves the system's last error set.
TokenWait WaitTokenMutex(HANDLE mutex, HANDLE cancel, DWORD timeout);

} // namespace devicelib
