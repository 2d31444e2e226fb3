#include "KeptPins.h"

#include <windows.h>

#include <cstring>

char g_szUserPin[kKeptPinRoom];
char g_szAdminPin[kKeptPinRoom];

void KeepPin(char* kept, const char* pin)
{
    SecureZeroMemory(kept, kKeptPinRoom);
    std::size_t len = strnlen(pin, kKeptPinRoom);
    if (len < kKeptPinRoom) std::memcpy(kept, pin, len);
}

void ClearKeptPins()
{
    SecureZeroMemory(g_szUserPin, sizeof g_szUserPin);
    SecureZeroMemory(g_szAdminPin, sizeof g_szAdminPin);
}
