// What a key press means to the secure PIN edit.
#pragma once

#include <windows.h>

enum class SafeKeyAction {
    Pass,      // to the next hook and the focused window
    Swallow,   // dropped
    Character, // a character for the hidden text
    Backspace, // removes before the caret, then passed on
    Delete     // removes at the caret, then passed on
};

struct SafeKey {
    SafeKeyAction action;
    char character;
};

struct KeyModifiers {
    bool shift;    // held
    bool capsLock; // toggled on
    bool numLock;  // toggled on
    bool control;  // held
    bool alt;      // held; with control, AltGr
};

// The character is the one the keyboard layout gives the key with these
// modifiers, as the user's keyboard shows it; dead keys are left alone.
SafeKey MapSafeEditKey(DWORD virtualKey, DWORD scanCode, KeyModifiers modifiers, HKL layout);
