// The real characters behind the secure PIN edit, which itself only
// shows mask characters.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr std::uint32_t kHiddenTextRoom = 128;

struct HiddenText {
    std::uint32_t limit; // at most kHiddenTextRoom
    HWND edit;
    HHOOK keyboardHook;
    HHOOK debugHook;
    std::uint8_t text[kHiddenTextRoom];
    std::uint32_t count;
};

// Removes n characters from position on; freed bytes are cleared.
void HiddenText_Remove(HiddenText* hidden, std::uint32_t position, std::uint32_t n);
// Puts the character at position (at most the count); refused when full.
void HiddenText_Insert(HiddenText* hidden, std::uint32_t position, std::uint8_t character);
void HiddenText_Clear(HiddenText* hidden);
