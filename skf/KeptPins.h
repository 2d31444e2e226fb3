// The user PIN that a caller presented on one device context and the token
// accepted: the file functions log in again with it before they write.
// Each device context keeps its own; the administrator PIN is never kept,
// as nothing logs in with it again.
#pragma once

#include <cstddef>

constexpr std::size_t kKeptPinRoom = 16;

struct KeptPins {
    char user[kKeptPinRoom];
};

// A PIN too long for the buffer is not kept: the buffer is emptied, so a
// later login cannot use a cut-off PIN and spend a try on it.
void KeepPin(char (&kept)[kKeptPinRoom], const char* pin);
void ForgetPin(char (&kept)[kKeptPinRoom]);
void ClearKeptPins(KeptPins& pins);
