// The secure PIN edit's hidden text, its key table and the soft keyboard's
// shuffle, without windows.
#include "HiddenText.h"
#include "SafeEditKeys.h"
#include "SoftKeyboard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

HiddenText Holding(const std::string& text, std::uint32_t limit = 16)
{
    HiddenText hidden = {};
    hidden.limit = limit;
    for (char c : text) HiddenText_Insert(&hidden, hidden.count, static_cast<std::uint8_t>(c));
    return hidden;
}

std::string Text(const HiddenText& hidden)
{
    return std::string(reinterpret_cast<const char*>(hidden.text), hidden.count);
}

bool TailIsClear(const HiddenText& hidden)
{
    const std::uint8_t* end = hidden.text + kHiddenTextRoom;
    return std::all_of(hidden.text + hidden.count, end, [](std::uint8_t b) { return b == 0; });
}

TEST(HiddenText, RemoveClosesTheGapAndClearsWhatWasFreed)
{
    struct Case {
        std::uint32_t position, n;
        const char* left;
    } cases[] = {
        {1, 2, "adef"},   // from the middle
        {0, 1, "bcdef"},  // the first
        {5, 1, "abcde"},  // the last
        {3, 10, "abc"},   // past the end: cut at the position
        {3, 3, "abc"},    // exactly to the end
        {6, 1, "abcdef"}, // at the count: nothing
        {9, 1, "abcdef"}, // beyond it: nothing
        {2, 0, "abcdef"},
    };
    for (const Case& c : cases) {
        HiddenText hidden = Holding("abcdef");
        HiddenText_Remove(&hidden, c.position, c.n);
        EXPECT_EQ(Text(hidden), c.left) << c.position << "," << c.n;
        EXPECT_TRUE(TailIsClear(hidden)) << c.position << "," << c.n;
    }
}

TEST(HiddenText, InsertKeepsToTheLimit)
{
    HiddenText hidden = Holding("ace");
    HiddenText_Insert(&hidden, 1, 'b');
    HiddenText_Insert(&hidden, 3, 'd');
    HiddenText_Insert(&hidden, 0, '0');
    EXPECT_EQ(Text(hidden), "0abcde");
    // A caret past the end puts the character at the end, leaving no gap.
    HiddenText_Insert(&hidden, 9, 'f');
    EXPECT_EQ(Text(hidden), "0abcdef");

    // A 17th character is refused at the PIN dialog's limit of 16.
    HiddenText full = Holding("1234567890abcdefX");
    EXPECT_EQ(Text(full), "1234567890abcdef");
    HiddenText_Insert(&full, 0, 'Z');
    EXPECT_EQ(Text(full), "1234567890abcdef");

    // A limit above the room is held to the room.
    HiddenText wide = Holding(std::string(200, 'x'), 1000);
    EXPECT_EQ(wide.count, kHiddenTextRoom);

    HiddenText_Clear(&hidden);
    EXPECT_EQ(hidden.count, 0u);
    EXPECT_TRUE(TailIsClear(hidden));
}

// Keys on a US layout, which types as the table of a US keyboard does.
HKL UsLayout()
{
    static HKL layout = LoadKeyboardLayoutW(L"00000409", 0);
    return layout;
}

SafeKey Mapped(DWORD key, KeyModifiers modifiers)
{
    return MapSafeEditKey(key, MapVirtualKeyW(key, MAPVK_VK_TO_VSC), modifiers, UsLayout());
}

std::string Typed(DWORD key, KeyModifiers modifiers)
{
    SafeKey mapped = Mapped(key, modifiers);
    if (mapped.action != SafeKeyAction::Character) return "";
    return std::string(1, mapped.character);
}

TEST(SafeEditKeys, CharactersFollowShiftCapsLockAndNumLock)
{
    const KeyModifiers plain = {false, false, true, false, false}, shift = {true, false, true, false, false},
                       caps = {false, true, true, false, false}, capsShift = {true, true, true, false, false},
                       numOff = {false, false, false, false, false}, control = {false, false, true, true, false};
    EXPECT_EQ(Typed('A', plain), "a");
    EXPECT_EQ(Typed('A', shift), "A");
    EXPECT_EQ(Typed('A', caps), "A");
    EXPECT_EQ(Typed('A', capsShift), "a");
    EXPECT_EQ(Typed('7', plain), "7");
    EXPECT_EQ(Typed('7', caps), "7");
    std::string shiftedDigits;
    for (DWORD key = '0'; key <= '9'; ++key) shiftedDigits += Typed(key, shift);
    EXPECT_EQ(shiftedDigits, ")!@#$%^&*(");
    EXPECT_EQ(Typed(VK_SPACE, plain), " ");

    std::string punctuation, shiftedPunctuation;
    for (DWORD key : {0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xC0, 0xDB, 0xDC, 0xDD, 0xDE}) {
        punctuation += Typed(key, plain);
        shiftedPunctuation += Typed(key, shift);
    }
    EXPECT_EQ(punctuation, ";=,-./`[\\]'");
    EXPECT_EQ(shiftedPunctuation, ":+<_>?~{|}\"");

    std::string keypad;
    for (DWORD key : {VK_NUMPAD0, VK_NUMPAD5, VK_NUMPAD9, VK_MULTIPLY, VK_ADD, VK_SUBTRACT, VK_DECIMAL, VK_DIVIDE}) {
        keypad += Typed(key, plain);
        EXPECT_EQ(Mapped(key, numOff).action, SafeKeyAction::Pass) << key;
    }
    EXPECT_EQ(keypad, "059*+-./");
    // Ctrl chords type nothing, paste among them; Ctrl with Alt is AltGr,
    // which the layout gives a meaning (on US: none).
    for (DWORD key : {DWORD('V'), DWORD('1'), DWORD(VK_BACK)})
        EXPECT_EQ(Mapped(key, control).action, SafeKeyAction::Swallow) << key;
    EXPECT_EQ(Mapped('1', {false, false, true, true, true}).action, SafeKeyAction::Pass);
}

TEST(SafeEditKeys, EditingAndNavigationKeys)
{
    const KeyModifiers plain = {false, false, true, false, false};
    for (DWORD key : {VK_TAB, VK_MENU, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN, VK_SNAPSHOT, VK_LWIN, VK_RWIN, VK_APPS}) {
        EXPECT_EQ(Mapped(key, plain).action, SafeKeyAction::Swallow) << key;
    }
    EXPECT_EQ(Mapped(VK_BACK, plain).action, SafeKeyAction::Backspace);
    EXPECT_EQ(Mapped(VK_DELETE, plain).action, SafeKeyAction::Delete);
    // Home and End move the caret and, with Shift, select.
    for (DWORD key : {VK_HOME, VK_END, VK_RETURN, VK_ESCAPE, VK_SHIFT, VK_F1}) {
        EXPECT_EQ(Mapped(key, plain).action, SafeKeyAction::Pass) << key;
    }
}

TEST(SoftKeyboardShuffle, EveryKeyOnceInAnOrderOfTheSeed)
{
    int first[kSoftKeyCount], again[kSoftKeyCount], other[kSoftKeyCount];
    ShuffleSoftKeys(0x12345678u, first);
    ShuffleSoftKeys(0x12345678u, again);
    ShuffleSoftKeys(0x12345679u, other);
    int sorted[kSoftKeyCount];
    std::copy(first, first + kSoftKeyCount, sorted);
    std::sort(sorted, sorted + kSoftKeyCount);
    for (int i = 0; i < kSoftKeyCount; ++i) ASSERT_EQ(sorted[i], i);
    EXPECT_TRUE(std::equal(first, first + kSoftKeyCount, again));
    EXPECT_FALSE(std::equal(first, first + kSoftKeyCount, other));
}

} // namespace
