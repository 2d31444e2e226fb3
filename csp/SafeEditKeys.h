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
};

SafeKey MapSafeEditKey(DWORD virtualKey, KeyModifiers modifiers);
