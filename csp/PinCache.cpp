#include "PinCache.h"

#include <cstring>

CRITICAL_SECTION PinCacheLock;
PinCacheEntry PinCache[kPinCacheEntries];

namespace {

// Generations are never reused, not even by an entry made again for a
// token that came back.
std::uint32_t LastGeneration;

std::uint32_t NextGeneration()
{
    return ++LastGeneration;
}

class CacheGuard {
public:
    CacheGuard() { EnterCriticalSection(&PinCacheLock); }
    ~CacheGuard() { LeaveCriticalSection(&PinCacheLock); }
    CacheGuard(const CacheGuard&) = delete;
    CacheGuard& operator=(const CacheGuard&) = delete;
};

PinCacheEntry* FindEntry(const char* name)
{
    for (PinCacheEntry& e : PinCache)
        if (e.deviceName[0] && lstrcmpiA(e.deviceName, name) == 0) return &e;
    return nullptr;
}

void ClearPin(PinCacheEntry& e)
{
    SecureZeroMemory(e.pin, sizeof e.pin);
    e.pinLength = 0;
}

void ClearEntryPin(const char* name)
{
    if (PinCacheEntry* e = FindEntry(name)) ClearPin(*e);
}

void CopyPin(TokenSession* session, const PinCacheEntry& e)
{
    SecureZeroMemory(session->pin, sizeof session->pin);
    session->pinLength = e.pinLength;
    std::memcpy(session->pin, e.pin, e.pinLength);
    session->pinGeneration = e.generation;
}

bool SamePin(const PinCacheEntry& e, const std::uint8_t* pin, std::uint8_t length)
{
    if (e.pinLength != length) return false;
    std::uint8_t difference = 0;
    for (std::uint8_t i = 0; i < length; ++i) difference |= static_cast<std::uint8_t>(e.pin[i] ^ pin[i]);
    return difference == 0;
}

} // namespace

void PinCache_SyncWithTokens(const char (*names)[devicelib::UK_NAME_LEN], std::uint32_t count)
{
    CacheGuard guard;
    for (PinCacheEntry& e : PinCache) {
        if (!e.deviceName[0]) continue;
        bool listed = false;
        for (std::uint32_t i = 0; i < count && !listed; ++i) listed = lstrcmpiA(e.deviceName, names[i]) == 0;
        if (!listed) {
            // A token gone from the list takes its PIN with it.
            ClearPin(e);
            std::memset(e.deviceName, 0, sizeof e.deviceName);
        }
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (FindEntry(names[i])) continue;
        for (PinCacheEntry& e : PinCache) {
            if (e.deviceName[0]) continue;
            std::memcpy(e.deviceName, names[i], sizeof e.deviceName);
            e.deviceName[sizeof e.deviceName - 1] = '\0';
            ClearPin(e);
            e.generation = NextGeneration();
            break;
        }
    }
}

void PinCache_ClearByName(const wchar_t* deviceName)
{
    if (!deviceName) return;
    char name[devicelib::UK_NAME_LEN] = {};
    if (!WideCharToMultiByte(CP_ACP, 0, deviceName, -1, name, sizeof name - 1, nullptr, nullptr)) return;
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    CacheGuard guard;
    ClearEntryPin(name);
}

void PinCache_ClearForSession(const TokenSession* session)
{
    CacheGuard guard;
    ClearEntryPin(session->deviceName);
}

void PinCache_Load(TokenSession* session)
{
    CacheGuard guard;
    if (const PinCacheEntry* e = FindEntry(session->deviceName)) CopyPin(session, *e);
}

void PinCache_Store(TokenSession* session)
{
    CacheGuard guard;
    PinCacheEntry* e = FindEntry(session->deviceName);
    if (!e) return;
    // Never past the entry's 32 bytes, whatever the session claims.
    std::uint8_t len = session->pinLength <= kTokenPinRoom ? session->pinLength : 0;
    if (!SamePin(*e, session->pin, len)) {
        ClearPin(*e);
        e->pinLength = len;
        std::memcpy(e->pin, session->pin, len);
        e->generation = NextGeneration();
    }
    session->pinGeneration = e->generation;
}

void PinCache_Refresh(TokenSession* session)
{
    CacheGuard guard;
    const PinCacheEntry* e = FindEntry(session->deviceName);
    if (e && session->pinLength && session->pinGeneration != e->generation) CopyPin(session, *e);
}

void PinCache_Refused(TokenSession* session)
{
    CacheGuard guard;
    PinCacheEntry* e = FindEntry(session->deviceName);
    if (!e) return;
    ClearPin(*e);
    e->generation = NextGeneration();
    session->pinGeneration = e->generation;
}

void PinCache_Wipe()
{
    // Taken by the module's detach only, when no other thread runs here.
    SecureZeroMemory(PinCache, sizeof PinCache);
}
