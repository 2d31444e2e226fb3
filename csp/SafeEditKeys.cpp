#include "SafeEditKeys.h"

namespace {

constexpr BYTE kKeyDown = 0x80;
constexpr BYTE kKeyToggled = 0x01;
// ToUnicodeEx leaves the keyboard state, and with it a dead key the user
// is composing elsewhere, as it was.
constexpr UINT kKeepKeyboardState = 0x4;

SafeKey Character(char c)
{
    return {SafeKeyAction::Character, c};
}
SafeKey Action(SafeKeyAction action)
{
    return {action, 0};
}

bool IsSwallowedKey(DWORD key)
{
    return key == VK_TAB || key == VK_MENU || (key >= VK_LEFT && key <= VK_DOWN) || key == VK_SNAPSHOT ||
        (key >= VK_LWIN && key <= VK_APPS);
}

bool IsKeypadCharacterKey(DWORD key)
{
    return (key >= VK_NUMPAD0 && key <= VK_NUMPAD9) || key == VK_MULTIPLY || key == VK_ADD || key == VK_SUBTRACT ||
        key == VK_DECIMAL || key == VK_DIVIDE;
}

void SetDown(BYTE* state, bool down, DWORD key, DWORD side)
{
    if (!down) return;
    state[key] = kKeyDown;
    state[side] = kKeyDown;
}

// The character the layout gives the key. Dead keys, keys without a
// character and control characters (Enter, Escape) pass; a character a
// PIN cannot hold is swallowed.
SafeKey Translate(DWORD key, DWORD scanCode, KeyModifiers modifiers, HKL layout)
{
    BYTE state[256] = {};
    SetDown(state, modifiers.shift, VK_SHIFT, VK_LSHIFT);
    SetDown(state, modifiers.control, VK_CONTROL, VK_LCONTROL);
    SetDown(state, modifiers.alt, VK_MENU, modifiers.control ? VK_RMENU : VK_LMENU);
    if (modifiers.capsLock) state[VK_CAPITAL] = kKeyToggled;
    if (modifiers.numLock) state[VK_NUMLOCK] = kKeyToggled;
    state[key & 0xFF] |= kKeyDown;
    wchar_t text[4] = {};
    int length = ToUnicodeEx(key, scanCode, state, text, 4, kKeepKeyboardState, layout);
    if (length <= 0 || (length == 1 && text[0] < 0x20)) return Action(SafeKeyAction::Pass);
    if (length == 1 && text[0] < 0x7F) return Character(static_cast<char>(text[0]));
    return Action(SafeKeyAction::Swallow);
}

} // namespace

SafeKey MapSafeEditKey(DWORD key, DWORD scanCode, KeyModifiers modifiers, HKL layout)
{
    // Ctrl chords (paste among them) type nothing; Ctrl with Alt is AltGr.
    if (modifiers.control && !modifiers.alt) return Action(SafeKeyAction::Swallow);
    if (IsSwallowedKey(key)) return Action(SafeKeyAction::Swallow);
    if (key == VK_BACK) return Action(SafeKeyAction::Backspace);
    if (key == VK_DELETE) return Action(SafeKeyAction::Delete);
    if (IsKeypadCharacterKey(key) && !modifiers.numLock) return Action(SafeKeyAction::Pass);
    return Translate(key, scanCode, modifiers, layout);
}
