#include "SafeEditKeys.h"

namespace {

constexpr char kShiftedDigits[] = ")!@#$%^&*(";

struct PunctuationKey {
    DWORD virtualKey;
    char plain;
    char shifted;
};

constexpr PunctuationKey kPunctuation[] = {
    {0xBA, ';', ':'}, {0xBB, '=', '+'}, {0xBC, ',', '<'},  {0xBD, '-', '_'}, {0xBE, '.', '>'},  {0xBF, '/', '?'},
    {0xC0, '`', '~'}, {0xDB, '[', '{'}, {0xDC, '\\', '|'}, {0xDD, ']', '}'}, {0xDE, '\'', '"'},
};

struct KeypadOperator {
    DWORD virtualKey;
    char character;
};

constexpr KeypadOperator kKeypadOperators[] = {
    {VK_MULTIPLY, '*'}, {VK_ADD, '+'}, {VK_SUBTRACT, '-'}, {VK_DECIMAL, '.'}, {VK_DIVIDE, '/'},
};

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

} // namespace

SafeKey MapSafeEditKey(DWORD key, KeyModifiers modifiers)
{
    if (key >= '0' && key <= '9') {
        return Character(modifiers.shift ? kShiftedDigits[key - '0'] : static_cast<char>(key));
    }
    if (key >= 'A' && key <= 'Z') {
        bool upper = modifiers.shift != modifiers.capsLock;
        return Character(static_cast<char>(upper ? key : key - 'A' + 'a'));
    }
    if (key == VK_SPACE) return Character(' ');
    if (key >= VK_NUMPAD0 && key <= VK_NUMPAD9) {
        return modifiers.numLock ? Character(static_cast<char>('0' + key - VK_NUMPAD0)) : Action(SafeKeyAction::Pass);
    }
    for (const KeypadOperator& op : kKeypadOperators) {
        if (op.virtualKey == key) return modifiers.numLock ? Character(op.character) : Action(SafeKeyAction::Pass);
    }
    for (const PunctuationKey& p : kPunctuation) {
        if (p.virtualKey == key) return Character(modifiers.shift ? p.shifted : p.plain);
    }
    if (IsSwallowedKey(key)) return Action(SafeKeyAction::Swallow);
    if (key == VK_BACK) return Action(SafeKeyAction::Backspace);
    if (key == VK_DELETE) return Action(SafeKeyAction::Delete);
    return Action(SafeKeyAction::Pass);
}
