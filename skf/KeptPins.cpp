#include "KeptPins.h"

#include <windows.h>

#include <cstring>

void KeepPin(char (&kept)[kKeptPinRoom], const char* pin)
{
    SecureZeroMemory(kept, sizeof kept);
    std::size_t len = strnlen(pin, kKeptPinRoom);
    if (len < kKeptPinRoom) std::memcpy(kept, pin, len);
}

void ForgetPin(char (&kept)[kKeptPinRoom])
{
    SecureZeroMemory(kept, sizeof kept);
}

void ClearKeptPins(KeptPins& pins)
{
    ForgetPin(pins.user);
}
