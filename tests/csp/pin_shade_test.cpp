// The PIN shade and PIN dialog shown for real and worked from another
// process by PinDialogDriver, over a scripted token.
#include "MessageTable.h"
#include "PinCache.h"
#include "PinShade.h"
#include "UiDriver.h"
#include "WineQuirks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kDevice[] = "\\\\?\\usb#vid_1ea8&pid_c004#sim0001";
constexpr char kRightPin[] = "12345678";
constexpr COLORREF kDialogBody = RGB(246, 248, 252); // of the dialog's background image

// The scripted token: one user PIN with a try counter.
struct FakeToken {
    std::uint32_t triesLeft = 6;
    bool blocked = false;
    int logins = 0;
    std::string lastPin; // what the last Login was given
} g_token;

std::uint32_t UKAPI FakeLogin(devicelib::UK_HANDLE, std::uint32_t, std::uint32_t, const std::uint8_t* pin,
                              std::uint32_t length)
{
    ++g_token.logins;
    g_token.lastPin.assign(reinterpret_cast<const char*>(pin), length);
    if (g_token.blocked) return devicelib::UK_SW_PIN_BLOCKED;
    if (length == std::strlen(kRightPin) && std::memcmp(pin, kRightPin, length) == 0) {
        g_token.triesLeft = 6;
        return devicelib::UK_OK;
    }
    if (g_token.triesLeft) --g_token.triesLeft;
    if (!g_token.triesLeft) g_token.blocked = true;
    return devicelib::UK_SW_WRONG_PIN | g_token.triesLeft;
}

std::uint32_t UKAPI FakeGetRetryTimes(devicelib::UK_HANDLE, std::uint32_t, std::uint32_t, std::uint32_t* info)
{
    *info = g_token.triesLeft;
    return devicelib::UK_OK;
}

devicelib::UK_FUNCTION_LIST MakeTable()
{
    devicelib::UK_FUNCTION_LIST table = {};
    table.Login = FakeLogin;
    table.GetRetryTimes = FakeGetRetryTimes;
    return table;
}

devicelib::UK_FUNCTION_LIST g_table = MakeTable();

std::string Formatted(unsigned id, int value)
{
    wchar_t text[1024];
    wsprintfW(text, GetMessageTable()->texts[id], value);
    return Utf8(text);
}

struct ShadeCase {
    const char* name;
    const wchar_t* steps;
    std::uint32_t triesLeft;
    bool blocked;
    DWORD result;
    const char* pin; // the PIN handed back, when the result is 0
    std::vector<std::string> messages;
    int logins;
    const char* tokenSaw = nullptr; // the PIN of the last Login, when checked
    // The driver printed the soft keyboard's labels in two dialogs and then
    // after Shift in the second.
    bool newKeyOrderThenShift = false;
    const char* layout = nullptr; // the display's keyboard layout, when not US
    bool altGr = false;           // AltGr typed
};

std::vector<ShadeCase> Cases()
{
    std::string wrong2 = Formatted(MSG_WRONG_PIN, 2);
    std::string wrong5 = Formatted(MSG_WRONG_PIN, 5);
    std::string locked = Utf8(GetMessageTable()->texts[MSG_PIN_LOCKED]);
    return {
        {"RightPinIsVerifiedAndCached",
         L"pin type=12345678 ok-enabled=1 shot=pin_dialog.bmp ok gone",
         6,
         false,
         0,
         kRightPin,
         {},
         1},
        {"WrongPinShowsTriesLeftThenAsksAgain",
         L"pin type=11111111 ok box shot=pin_wrong.bmp message pin type=12345678 ok gone",
         3,
         false,
         0,
         kRightPin,
         {wrong2},
         2},
        {"CancelVerifiesNothing",
         L"pin type=1234 shot=pin_cancel.bmp cancel gone",
         6,
         false,
         kPinShadeFailed,
         nullptr,
         {},
         0},
        {"LastTryWrongShowsLocked",
         L"pin type=11111111 ok message gone",
         1,
         false,
         devicelib::UK_SW_WRONG_PIN,
         nullptr,
         {locked},
         1},
        {"BlockedPinShowsLocked",
         L"pin type=12345678 ok message gone",
         0,
         true,
         devicelib::UK_SW_PIN_BLOCKED,
         nullptr,
         {locked},
         1},
        {"FivePinCharactersKeepOkDisabledEvenForEnter",
         L"pin type=12345 ok-enabled=0 enter post-ok ok-enabled=0 type=678 ok-enabled=1 ok gone",
         6,
         false,
         0,
         kRightPin,
         {},
         1},
        {"EnterBeforeThePromptCancels", L"shade enter gone", 6, false, kPinShadeFailed, nullptr, {}, 0},
        // Typed keys reach the hidden text through the low-level keyboard
        // hook; the control and any program that reads it see masks only.
        // (The thread debug hook that keeps ordinary keyboard hooks away
        // is not checked: under Wine a thread keyboard hook still sees the
        // keys, as Wine runs no WH_DEBUG hooks.)
        {"TypedPinIsMaskedInTheControl",
         L"pin type=123456789 masked=9 erase masked=8 ok gone",
         6,
         false,
         0,
         kRightPin,
         {},
         1,
         kRightPin},
        {"SoftKeyboardTypesTheMaskedPin",
         L"pin keyboard keys=123456789 back masked=8 shot=soft_keyboard.bmp ok gone",
         6,
         false,
         0,
         kRightPin,
         {},
         1,
         kRightPin},
        {"SoftKeyboardShiftTypesCapitals",
         L"pin keyboard keys=aB3xY9 masked=6 ok message pin cancel gone",
         6,
         false,
         kPinShadeFailed,
         nullptr,
         {wrong5},
         1,
         "aB3xY9"},
        {"TypedAndClickedCharactersMakeOnePin",
         L"pin type=1234 keyboard keys=5678 masked=8 ok gone",
         6,
         false,
         0,
         kRightPin,
         {},
         1,
         kRightPin},
        // Changes that do not come through the hook reach the hidden PIN or
        // nothing: the token never receives the control's masks.
        {"UnicodeKeystrokeGoesToTheHiddenPin",
         L"pin type=1234567 unicode=8 masked=8 ok gone",
         6,
         false,
         0,
         kRightPin,
         {},
         1,
         kRightPin},
        {"ClearedSelectionLeavesNothingBehind",
         L"pin type=99999999 selectall clear masked=0 type=12345678 masked=8 ok gone",
         6,
         false,
         0,
         kRightPin,
         {},
         1,
         kRightPin},
        {"NoContextMenuAndNoUndo",
         L"pin type=12345678 menu selectall undo masked=8 ok gone",
         6,
         false,
         0,
         kRightPin,
         {},
         1,
         kRightPin},
        {"SoftKeyOverASelectionShowsAMask",
         L"pin keyboard keys=99 selectall keys=1 masked=1 keys=2345678 masked=8 ok gone",
         6,
         false,
         0,
         kRightPin,
         {},
         1,
         kRightPin},
        // The PIN typed is the PIN sent, as the user's keyboard shows it: on
        // a French keyboard the digits take Shift, and AltGr types.
        {"FrenchKeyboardTypesTheDigitsItShows",
         L"pin type=12345678 ok gone",
         6,
         false,
         0,
         kRightPin,
         {},
         1,
         kRightPin,
         false,
         "fr"},
        {"FrenchAltGrTypesItsCharacters",
         L"pin type=az@#{}09 masked=8 ok message pin cancel gone",
         6,
         false,
         kPinShadeFailed,
         nullptr,
         {wrong5},
         1,
         "az@#{}09",
         false,
         "fr",
         true},
        {"EachDialogShufflesItsKeysAndShiftKeepsTheirPlaces",
         L"pin keyboard labels keys=111111 ok message pin keyboard labels shift labels cancel gone",
         6,
         false,
         kPinShadeFailed,
         nullptr,
         {wrong5},
         1,
         "111111",
         true},
    };
}

// The test display's keyboard layout for the life of the object; US again
// after it. Only this tree's own display is changed.
class DisplayLayout {
public:
    explicit DisplayLayout(const char* layout) : m_changed(layout != nullptr)
    {
        if (m_changed) m_set = Set(layout, true);
    }
    ~DisplayLayout()
    {
        if (m_changed) Set("us", false);
    }
    bool Ok() const { return !m_changed || m_set; }

private:
    // Waits until this process types as the layout does: a digit takes
    // Shift on the French keyboard and not on the US one.
    static bool Set(const char* layout, bool shiftedDigits)
    {
        // Wine starts Unix programs as it does Windows ones (their process
        // handle tells nothing); setxkbmap changes the display of DISPLAY,
        // the tree's own.
        std::wstring command = L"/usr/bin/setxkbmap " + Wide(layout);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            return false;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        // Under Wine a thread learns of the new layout through a window's
        // messages.
        HWND window = CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        bool set = false;
        for (int waited = 0; waited < 10000 && !set; waited += 50) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            set = ((VkKeyScanW(L'1') & 0x100) != 0) == shiftedDigits;
            if (!set) Sleep(50);
        }
        DestroyWindow(window);
        return set;
    }
    bool m_changed;
    bool m_set = false;
};

std::vector<std::string> PrintedLabels(const std::string& output)
{
    std::vector<std::string> labels;
    const std::string prefix = "labels: ";
    for (std::string::size_type at = output.find(prefix); at != std::string::npos; at = output.find(prefix, at + 1)) {
        std::string::size_type end = output.find_first_of("\r\n", at);
        labels.push_back(output.substr(at + prefix.size(), end == std::string::npos ? end : end - at - prefix.size()));
    }
    return labels;
}

void CheckKeyOrders(const std::string& output)
{
    std::vector<std::string> labels = PrintedLabels(output);
    ASSERT_EQ(labels.size(), 3u) << output;
    for (const std::string& keys : labels) {
        std::string sorted = keys;
        for (char& c : sorted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, "0123456789abcdefghijklmnopqrstuvwxyz") << keys;
    }
    EXPECT_NE(labels[0], labels[1]);
    std::string upper = labels[1];
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(labels[2], upper);
    EXPECT_NE(labels[2], labels[1]);
}

struct Shot {
    const wchar_t* name;
    COLORREF face;
};

std::vector<Shot> Shots()
{
    return {{L"pin_dialog.bmp", kDialogBody},
            {L"soft_keyboard.bmp", kDialogBody},
            {L"pin_cancel.bmp", kDialogBody},
            {L"pin_wrong.bmp", GetSysColor(COLOR_BTNFACE)}};
}

class PinShadeTest : public ::testing::TestWithParam<ShadeCase> {
protected:
    static void SetUpTestSuite() { InitializeCriticalSection(&PinCacheLock); }
    static void TearDownTestSuite() { DeleteCriticalSection(&PinCacheLock); }

    void SetUp() override
    {
        SKIP_OR_FAIL_WITHOUT_DISPLAY();
        g_token = FakeToken();
        g_token.triesLeft = GetParam().triesLeft;
        g_token.blocked = GetParam().blocked;
        std::memset(&m_session, 0, sizeof m_session);
        std::strcpy(m_session.deviceName, kDevice);
        m_session.device = 1;
        m_session.funcs = &g_table;
        char names[1][devicelib::UK_NAME_LEN] = {};
        std::strcpy(names[0], kDevice);
        PinCache_SyncWithTokens(names, 0);
        PinCache_SyncWithTokens(names, 1);
    }

    TokenSession m_session;
};

TEST_P(PinShadeTest, Prompt)
{
    const ShadeCase& c = GetParam();
    std::wstring steps = L"--timeout 20 " + std::wstring(c.steps);
    for (const wchar_t* shot : {L"pin_dialog.bmp", L"pin_wrong.bmp", L"pin_cancel.bmp", L"soft_keyboard.bmp"}) {
        std::wstring::size_type at = steps.find(std::wstring(L"shot=") + shot);
        if (at != std::wstring::npos) steps.replace(at + 5, wcslen(shot), L"\"" + ScreenshotPath(shot) + L"\"");
    }
    // A picture left by an earlier run must not pass for this one's.
    for (const Shot& shot : Shots()) DeleteFileW(ScreenshotPath(shot.name).c_str());
    if (c.altGr && AltGrNotTranslatedFromKeyState()) GTEST_SKIP() << "AltGr types nothing under Wine";
    DisplayLayout layout(c.layout);
    ASSERT_TRUE(layout.Ok()) << c.layout;
    CUiDriver driver(L"PinDialogDriver.exe");
    ASSERT_TRUE(driver.Start(steps));
    driver.GuardThreadWindows(GetCurrentThreadId());

    std::uint8_t pin[kTokenPinRoom];
    std::memset(pin, 0xAA, sizeof pin);
    std::uint32_t length = 0xAA;
    DWORD result = ShowPinShade(nullptr, &m_session, pin, &length);
    DriverRun run = driver.Finish();

    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(run.messages, c.messages);
    EXPECT_EQ(g_token.logins, c.logins);
    if (c.tokenSaw) {
        EXPECT_EQ(g_token.lastPin, c.tokenSaw);
    }
    if (c.newKeyOrderThenShift) CheckKeyOrders(run.output);
    if (c.pin) {
        std::string expected(c.pin);
        ASSERT_EQ(length, expected.size());
        EXPECT_EQ(std::string(reinterpret_cast<char*>(pin), length), expected);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(m_session.pin), m_session.pinLength), expected);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(PinCache[0].pin), PinCache[0].pinLength), expected);
    } else {
        EXPECT_EQ(length, 0xAAu);
        for (std::uint8_t b : pin) ASSERT_EQ(b, 0xAA);
        EXPECT_EQ(m_session.pinLength, 0);
        EXPECT_EQ(PinCache[0].pinLength, 0);
    }
    // Each picture was saved while the PIN dialog or a message box was up:
    // its face colour is on it.
    for (const Shot& shot : Shots()) {
        if (std::wstring(c.steps).find(shot.name) == std::wstring::npos) continue;
        EXPECT_GT(CountPixels(ScreenshotPath(shot.name), shot.face), 10000) << Utf8(shot.name);
    }
}

INSTANTIATE_TEST_SUITE_P(Shade, PinShadeTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<ShadeCase>& info) { return std::string(info.param.name); });

} // namespace
