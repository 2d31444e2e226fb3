// The last user and administrator PINs a caller presented, process-wide:
// the file functions log in again with the user PIN before they write.
#pragma once

#include <cstddef>

constexpr std::size_t kKeptPinRoom = 16;

extern char g_szUserPin[kKeptPinRoom];
extern char g_szAdminPin[kKeptPinRoom];

// A PIN too long for the buffer is not kept: the buffer is emptied, so a
// later login cannot use a cut-off PIN and spend a try on it.
void KeepPin(char* kept, const char* pin);
void ClearKeptPins();
