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
};

// Created and deleted by the module entry routine.
extern CRITICAL_SECTION PinCacheLock;
extern PinCacheEntry PinCache[kPinCacheEntries];

void PinCache_SyncWithTokens(const char (*names)[devicelib::UK_NAME_LEN], std::uint32_t count);
void PinCache_ClearByName(const wchar_t* deviceName);
void PinCache_ClearForSession(const TokenSession* session);
void PinCache_Load(TokenSession* session);
void PinCache_Store(const TokenSession* session);
// Clears every entry without the lock: for the module's detach.
void PinCache_Wipe();
