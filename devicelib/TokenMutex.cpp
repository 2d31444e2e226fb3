#include "TokenMutex.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace devicelib {

namespace {

constexpr std::size_t kNameSkip = 5;
constexpr std::size_t kMutexNameRoom = 320;

} // namespace

HANDLE OpenTokenMutex(const char* deviceName)
{
    const char* name = deviceName + std::min(std::strlen(deviceName), kNameSkip);
    char mutexName[kMutexNameRoom];
    int length = std::snprintf(mutexName, sizeof mutexName, "Global\\%s", name);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof mutexName) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    return OpenMutexA(MUTEX_ALL_ACCESS, FALSE, mutexName);
}

TokenWait WaitTokenMutex(HANDLE mutex, HANDLE cancel, DWORD timeout)
{
    // The cancel event comes first: when both are signalled, it wins.
    const HANDLE waits[] = {cancel, mutex};
    DWORD wait = cancel ? WaitForMultipleObjects(2, waits, FALSE, timeout) : WaitForSingleObject(mutex, timeout);
    if (cancel && wait == WAIT_OBJECT_0) return TokenWait::Cancelled;
    if (wait == WAIT_TIMEOUT) return TokenWait::TimedOut;
    if (wait == WAIT_FAILED) return TokenWait::Failed;
    return TokenWait::Taken;
}

TokenWait TokenHold::Take(const char* deviceName, HANDLE cancel)
{
    HANDLE mutex = OpenTokenMutex(deviceName);
    if (!mutex) return TokenWait::Failed;
    TokenWait wait = WaitTokenMutex(mutex, cancel, kTokenHoldTimeout);
    if (wait != TokenWait::Taken) {
        DWORD error = GetLastError();
        CloseHandle(mutex);
        SetLastError(error);
        return wait;
    }
    m_mutex = mutex;
    return wait;
}

TokenHold::~TokenHold()
{
    if (!m_mutex) return;
    ReleaseMutex(m_mutex);
    CloseHandle(m_mutex);
}

} // namespace devicelib
