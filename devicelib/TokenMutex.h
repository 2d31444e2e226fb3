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

// Holds the token against every other connection, through either token
// library, in this process or another, across a change made of several
// calls (a read and its write back, a look-up and the change it decides):
// another's change could otherwise come between and be undone. A thread
// that already holds the mutex (SKF_LockDev) goes straight on.
class TokenHold {
public:
    TokenHold() = default;
    TokenHold(const TokenHold&) = delete;
    TokenHold& operator=(const TokenHold&) = delete;
    ~TokenHold();
    // Opens the token's mutex and waits up to kTokenHoldTimeout for it, or
    // for cancel (may be null). Only Taken keeps it; a mutex that cannot
    // be opened is Failed, with the system's last error set.
    TokenWait Take(const char* deviceName, HANDLE cancel);

private:
    HANDLE m_mutex = nullptr;
};

} // namespace devicelib
