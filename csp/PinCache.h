// Remembers each present token's PIN for the process, so that a PIN is
// asked for once per token. Every operation holds PinCacheLock.
#pragma once

#include "TokenSession.h"

#include <windows.h>

#include <cstdint>

constexpr unsigned kPinCacheEntries = 8;

struct PinCacheEntry {
    char deviceName[devicelib::UK_NAME_LEN]; // empty: the entry is free
    std::uint8_t pin[kTokenPinRoom];
    std::uint8_t pinLength;
    // Moves on whenever the PIN is replaced or refused: a session's copy of
    // another generation is out of date.
    std::uint32_t generation;
};

// Created and deleted by the module entry routine.
extern CRITICAL_SECTION PinCacheLock;
extern PinCacheEntry PinCache[kPinCacheEntries];

void PinCache_SyncWithTokens(const char (*names)[devicelib::UK_NAME_LEN], std::uint32_t count);
void PinCache_ClearByName(const wchar_t* deviceName);
void PinCache_ClearForSession(const TokenSession* session);
void PinCache_Load(TokenSession* session);
void PinCache_Store(TokenSession* session);
// A session's copy of the PIN that is out of date is replaced by its
// token's current one, or wiped when the cache has none.
void PinCache_Refresh(TokenSession* session);
// The token refused the session's PIN: it leaves the cache, and every other
// session's copy goes out of date.
void PinCache_Refused(TokenSession* session);
// Clears every entry without the lock: for the module's detach.
void PinCache_Wipe();
