// The user PIN that a caller presented on one device context and the token
// accepted: the file functions log in again with it before they write.
// Each device context keeps its own; the administrator PIN is never kept,
// as nothing logs in with it again. Calls on one context run side by side,
// so the kept PIN is only read or written under its lock.
#pragma once

#include <cstddef>
#include <mutex>

constexpr std::size_t kKeptPinRoom = 16;

struct KeptPins {
    std::mutex lock; // guards user
    char user[kKeptPinRoom];
};

// A PIN too long for the buffer is not kept: the buffer is emptied, so a
// later login cannot use a cut-off PIN and spend a try on it.
void KeepUserPin(KeptPins& pins, const char* pin);
void ForgetUserPin(KeptPins& pins);
// The kept user PIN into copy, which the caller wipes; its length, 0 when
// none is kept.
std::size_t CopyUserPin(KeptPins& pins, char (&copy)[kKeptPinRoom]);
// Forgets the kept user PIN only while it is still pin, a copy taken
// before: a PIN another call kept meanwhile stays.
void ForgetUserPinIfKept(KeptPins& pins, const char (&pin)[kKeptPinRoom]);
void ClearKeptPins(KeptPins& pins);
