#include "KeptPins.h"

#include <windows.h>

#include <cstring>

void KeepUserPin(KeptPins& pins, const char* pin)
{
    std::lock_guard<std::mutex> guard(pins.lock);
    SecureZeroMemory(pins.user, sizeof pins.user);
    std::size_t len = strnlen(pin, kKeptPinRoom);
    if (len < kKeptPinRoom) std::memcpy(pins.user, pin, len);
}

void ForgetUserPin(KeptPins& pins)
{
    std::lock_guard<std::mutex> guard(pins.lock);
    SecureZeroMemory(pins.user, sizeof pins.user);
}

std::size_t CopyUserPin(KeptPins& pins, char (&copy)[kKeptPinRoom])
{
    std::lock_guard<std::mutex> guard(pins.lock);
    std::memcpy(copy, pins.user, sizeof copy);
    return strnlen(copy, kKeptPinRoom);
}

void ForgetUserPinIfKept(KeptPins& pins, const char (&pin)[kKeptPinRoom])
{
    std::lock_guard<std::mutex> guard(pins.lock);
    if (std::memcmp(pins.user, pin, sizeof pins.user) == 0) SecureZeroMemory(pins.user, sizeof pins.user);
}

void ClearKeptPins(KeptPins& pins)
{
    ForgetUserPin(pins);
}
