// PinDialogDriver: works the provider's PIN dialog from outside, the way a
// person at the keyboard would: it finds the dialog, types with keyboard
// input, clicks the buttons with the mouse, answers message boxes and
// saves screenshots. Tests and the demo run of the main job use it.
//
//   PinDialogDriver [--timeout SECONDS] [--process PID] STEP...
//     --process       look only at the windows of that process
//     shade           wait for the full-screen shade
//     pin             wait for the PIN dialog
//     type=TEXT       type TEXT into the PIN edit
//     erase           press Backspace in the PIN edit
//     ok | cancel     click OK or Cancel of the PIN dialog
//     enter | escape  press the key in the foreground window
//     ok-enabled=0|1  check whether OK can be pressed
//     masked=N        check that another program reading the PIN edit gets
//                     N mask characters and nothing else
//     keyboard        click the soft-keyboard toggle and wait for it
//     keys=TEXT       click TEXT on the soft keyboard, finding each key by
//                     its label and pressing Shift for a letter of the other
//                     case
//     shift | back    click Shift or Backspace on the soft keyboard
//     labels          print "labels: " and the keys' labels in their order
//     box             wait for a message box and leave it up
//     message         wait for a message box, print "message: TEXT", press OK
//     gone            wait until neither the PIN dialog nor the shade is shown
//     shot=FILE       save the screen as a 24-bit BMP file
//     serve=PIN       until killed (or the timeout): type PIN into every PIN
//                     dialog that appears and press OK; answer message boxes
//     unicode=TEXT    type TEXT as Unicode keystrokes, which carry no key
//     selectall       select the PIN edit's whole text
//     clear | undo    send the PIN edit WM_CLEAR or WM_UNDO, as its context
//                     menu's Delete and Undo do
//     menu            ask the PIN edit for its context menu; fails when one
//                     comes up
//     post-ok         send the PIN dialog the OK command, as Enter does
#include "DesktopInput.h"
#include "DriverSteps.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kPinEditId = 1001;
constexpr int kToggleId = 1003;
constexpr int kFirstKeyId = 1025;
constexpr int kKeyCount = 36;
constexpr int kShiftId = 1074;
constexpr int kBackspaceId = 1076;
constexpr int kMessageTextId = 0xFFFF; // the text control of a message box
constexpr DWORD kPollMs = 20;

DWORD g_timeoutMs = 30000;

bool IsPinDialog(HWND window)
{
    HWND edit = IsDialog(window) ? GetDlgItem(window, kPinEditId) : nullptr;
    return edit && IsWindowVisible(edit) && GetDlgItem(window, IDOK) && GetDlgItem(window, IDCANCEL);
}

bool IsSoftKeyboard(HWND window)
{
    return IsDialog(window) && GetDlgItem(window, kFirstKeyId) && GetDlgItem(window, kShiftId);
}

bool IsMessageBox(HWND window)
{
    return IsDialog(window) && GetDlgItem(window, kMessageTextId) && !GetDlgItem(window, kPinEditId);
}

// The shade is the dialog that covers the primary screen.
bool IsShade(HWND window)
{
    if (!IsDialog(window) || GetDlgItem(window, kPinEditId)) return false;
    RECT box = {};
    GetWindowRect(window, &box);
    return box.right - box.left >= GetSystemMetrics(SM_CXSCREEN) &&
        box.bottom - box.top >= GetSystemMetrics(SM_CYSCREEN);
}

HWND FocusOf(HWND window)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

int TextLength(HWND control)
{
    return static_cast<int>(SendMessageW(control, WM_GETTEXTLENGTH, 0, 0));
}

// Characters that typing replaces rather than adds to.
int SelectedLength(HWND edit)
{
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return static_cast<int>(end - start);
}

// Waits until the edit holds the characters typed into it, so that the
// next step sees the dialog as the keys left it.
bool WaitTextLength(HWND edit, int length)
{
    for (DWORD waited = 0; waited < g_timeoutMs; waited += kPollMs) {
        if (TextLength(edit) == length) return true;
        if (!IsWindow(edit)) return false;
        Sleep(kPollMs);
    }
    return false;
}

bool TypeText(const std::wstring& text)
{
    HWND dialog = WaitFor(IsPinDialog, g_timeoutMs);
    if (!dialog) return false;
    HWND edit = GetDlgItem(dialog, kPinEditId);
    BringForward(dialog);
    if (FocusOf(dialog) != edit) ClickCentre(edit);
    int limit = static_cast<int>(SendMessageW(edit, EM_GETLIMITTEXT, 0, 0));
    int expected = TextLength(edit) - SelectedLength(edit) + static_cast<int>(text.size());
    if (expected > limit) expected = limit;
    // Shift, Ctrl and Alt as the keyboard layout needs them for each
    // character (Ctrl with Alt is AltGr).
    const WORD modifiers[] = {VK_SHIFT, VK_CONTROL, VK_MENU};
    for (wchar_t c : text) {
        SHORT scan = VkKeyScanW(c);
        if (scan == -1) return false;
        for (int i = 0; i < 3; ++i)
            if (scan & (0x100 << i)) SendKey(modifiers[i], false);
        PressKey(LOBYTE(scan));
        for (int i = 2; i >= 0; --i)
            if (scan & (0x100 << i)) SendKey(modifiers[i], true);
    }
    return WaitTextLength(edit, expected);
}

// What any program may read from the PIN edit: mask characters only.
bool CheckMasked(int expected)
{
    HWND dialog = WaitFor(IsPinDialog, g_timeoutMs);
    if (!dialog) return false;
    wchar_t text[128] = {};
    int length =
        static_cast<int>(SendMessageW(GetDlgItem(dialog, kPinEditId), WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text)));
    bool masked = length == expected;
    for (int i = 0; i < length; ++i) masked = masked && text[i] == L'*';
    SecureZeroMemory(text, sizeof text);
    std::printf("masked: %s\n", masked ? "yes" : "no");
    return masked;
}

std::wstring KeyLabels(HWND keyboard)
{
    std::wstring labels;
    for (int i = 0; i < kKeyCount; ++i) {
        wchar_t label[8] = {};
        GetDlgItemTextW(keyboard, kFirstKeyId + i, label, 8);
        labels += label[0] ? label[0] : L'?';
    }
    return labels;
}

bool ShowKeyboard()
{
    HWND dialog = WaitFor(IsPinDialog, g_timeoutMs);
    if (!dialog) return false;
    // A click that lands while the dialog is still coming forward is lost;
    // a person clicks again once the keyboard has not come up.
    for (int attempt = 0; attempt < 5; ++attempt) {
        BringForward(dialog);
        ClickCentre(GetDlgItem(dialog, kToggleId));
        if (WaitFor(IsSoftKeyboard, 2000)) return true;
    }
    return false;
}

// Clicks a key of the soft keyboard and waits until the labels (Shift) or
// the PIN edit (the other keys) show that it took effect.
bool ClickKey(HWND keyboard, int id)
{
    HWND dialog = FindTopLevel(IsPinDialog);
    if (!dialog) return false;
    HWND edit = GetDlgItem(dialog, kPinEditId);
    std::wstring before = KeyLabels(keyboard);
    // A key replaces a selection; Backspace removes it, or one character.
    int selected = SelectedLength(edit);
    int length = TextLength(edit) - selected;
    int expected = id == kBackspaceId ? (selected ? length : length - 1) : length + 1;
    ClickCentre(GetDlgItem(keyboard, id));
    if (id == kShiftId) {
        for (DWORD waited = 0; waited < g_timeoutMs; waited += kPollMs) {
            if (KeyLabels(keyboard) != before) return true;
            Sleep(kPollMs);
        }
        return false;
    }
    return WaitTextLength(edit, expected);
}

// Keystrokes that carry a character and no key, as on-screen keyboards
// and input methods send them.
bool TypeUnicode(const std::wstring& text)
{
    HWND dialog = WaitFor(IsPinDialog, g_timeoutMs);
    if (!dialog) return false;
    HWND edit = GetDlgItem(dialog, kPinEditId);
    BringForward(dialog);
    if (FocusOf(dialog) != edit) ClickCentre(edit);
    int expected = TextLength(edit) - SelectedLength(edit) + static_cast<int>(text.size());
    for (wchar_t c : text) {
        INPUT input[2] = {};
        for (INPUT& i : input) {
            i.type = INPUT_KEYBOARD;
            i.ki.wScan = c;
            i.ki.dwFlags = KEYEVENTF_UNICODE;
        }
        input[1].ki.dwFlags |= KEYEVENTF_KEYUP;
        SendInput(2, input, sizeof(INPUT));
    }
    return WaitTextLength(edit, expected);
}

// What another program can send the PIN edit directly.
bool SendToEdit(UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND dialog = WaitFor(IsPinDialog, g_timeoutMs);
    if (!dialog) return false;
    DWORD_PTR answer = 0;
    return SendMessageTimeoutW(GetDlgItem(dialog, kPinEditId), message, wParam, lParam, SMTO_BLOCK, g_timeoutMs,
                               &answer) != 0;
}

bool IsMenu(HWND window)
{
    wchar_t type[16] = {};
    GetClassNameW(window, type, 16);
    return std::wcscmp(type, L"#32768") == 0 && IsWindowVisible(window);
}

bool NoContextMenu()
{
    HWND dialog = WaitFor(IsPinDialog, g_timeoutMs);
    if (!dialog) return false;
    HWND edit = GetDlgItem(dialog, kPinEditId);
    PostMessageW(edit, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(edit), MAKELPARAM(-1, -1));
    HWND menu = WaitFor(IsMenu, 1000);
    std::printf("menu: %s\n", menu ? "shown" : "none");
    if (menu) PressKey(VK_ESCAPE);
    return !menu;
}

bool PostOk()
{
    HWND dialog = WaitFor(IsPinDialog, g_timeoutMs);
    DWORD_PTR answer = 0;
    return dialog && SendMessageTimeoutW(dialog, WM_COMMAND, IDOK, 0, SMTO_BLOCK, g_timeoutMs, &answer) != 0;
}

int FindKey(HWND keyboard, wchar_t c)
{
    std::wstring labels = KeyLabels(keyboard);
    std::wstring::size_type at = labels.find(c);
    return at == std::wstring::npos ? 0 : kFirstKeyId + static_cast<int>(at);
}

bool ClickKeys(const std::wstring& text)
{
    HWND keyboard = WaitFor(IsSoftKeyboard, g_timeoutMs);
    if (!keyboard) return false;
    for (wchar_t c : text) {
        int id = FindKey(keyboard, c);
        if (!id && iswalpha(c)) {
            if (!ClickKey(keyboard, kShiftId)) return false;
            id = FindKey(keyboard, c);
        }
        if (!id || !ClickKey(keyboard, id)) return false;
    }
    return true;
}

bool ClickSoftButton(int id)
{
    HWND keyboard = WaitFor(IsSoftKeyboard, g_timeoutMs);
    return keyboard && ClickKey(keyboard, id);
}

bool PrintLabels()
{
    HWND keyboard = WaitFor(IsSoftKeyboard, g_timeoutMs);
    if (!keyboard) return false;
    std::printf("labels: %s\n", Utf8(KeyLabels(keyboard)).c_str());
    return true;
}

bool EraseTyped()
{
    HWND dialog = WaitFor(IsPinDialog, g_timeoutMs);
    if (!dialog) return false;
    HWND edit = GetDlgItem(dialog, kPinEditId);
    BringForward(dialog);
    if (FocusOf(dialog) != edit) ClickCentre(edit);
    int length = TextLength(edit);
    PressKey(VK_BACK);
    return WaitTextLength(edit, length - 1);
}

// OK and Cancel both end the dialog; a dialog that never ends fails the
// step.
bool ClickButton(int id)
{
    HWND dialog = WaitFor(IsPinDialog, g_timeoutMs);
    return dialog && ClickUntilEnded(dialog, id, 2000);
}

bool CheckOkEnabled(bool expected)
{
    HWND dialog = WaitFor(IsPinDialog, g_timeoutMs);
    bool enabled = dialog && IsWindowEnabled(GetDlgItem(dialog, IDOK));
    std::printf("ok-enabled: %d\n", enabled ? 1 : 0);
    return dialog && enabled == expected;
}

bool AnswerMessage(DWORD timeoutMs)
{
    HWND box = WaitFor(IsMessageBox, timeoutMs);
    if (!box) return false;
    wchar_t text[1024] = {};
    GetDlgItemTextW(box, kMessageTextId, text, 1024);
    std::printf("message: %s\n", Utf8(text).c_str());
    std::fflush(stdout);
    return ClickUntilEnded(box, IDOK, 1000);
}

bool WaitGone()
{
    for (DWORD waited = 0; waited < g_timeoutMs; waited += kPollMs) {
        if (!FindTopLevel(IsPinDialog) && !FindTopLevel(IsShade)) return true;
        Sleep(kPollMs);
    }
    return false;
}

// A demo stand-in for the person at the keyboard.
bool Serve(const std::wstring& pin)
{
    HWND handled = nullptr;
    for (DWORD waited = 0; waited < g_timeoutMs; waited += kPollMs) {
        if (FindTopLevel(IsMessageBox)) AnswerMessage(0);
        HWND dialog = FindTopLevel(IsPinDialog);
        if (dialog && dialog != handled) {
            WaitDrawn(dialog);
            if (TypeText(pin) && ClickButton(IDOK)) {
                std::printf("typed the PIN into dialog %p\n", static_cast<void*>(dialog));
                std::fflush(stdout);
            }
            handled = dialog;
        }
        Sleep(kPollMs);
    }
    return true;
}

bool RunStep(const std::string& step)
{
    auto value = [&](const char* prefix) { return Wide(step.substr(std::strlen(prefix))); };
    if (step == "shade") return WaitFor(IsShade, g_timeoutMs) != nullptr;
    if (step == "pin") return WaitFor(IsPinDialog, g_timeoutMs) != nullptr;
    if (step.rfind("type=", 0) == 0) return TypeText(value("type="));
    if (step == "erase") return EraseTyped();
    if (step == "ok") return ClickButton(IDOK);
    if (step == "cancel") return ClickButton(IDCANCEL);
    if (step == "enter" || step == "escape") {
        HWND target = FindTopLevel(IsPinDialog);
        if (!target) target = FindTopLevel(IsShade);
        if (target && !BringForward(target)) return false;
        PressKey(step == "enter" ? VK_RETURN : VK_ESCAPE);
        return true;
    }
    if (step == "ok-enabled=0" || step == "ok-enabled=1") return CheckOkEnabled(step.back() == '1');
    if (step.rfind("masked=", 0) == 0) return CheckMasked(std::atoi(step.c_str() + 7));
    if (step == "keyboard") return ShowKeyboard();
    if (step.rfind("keys=", 0) == 0) return ClickKeys(value("keys="));
    if (step == "shift") return ClickSoftButton(kShiftId);
    if (step == "back") return ClickSoftButton(kBackspaceId);
    if (step == "labels") return PrintLabels();
    if (step == "box") {
        HWND box = WaitFor(IsMessageBox, g_timeoutMs);
        return box && WaitDrawn(box);
    }
    if (step == "message") return AnswerMessage(g_timeoutMs);
    if (step == "gone") return WaitGone();
    if (step.rfind("shot=", 0) == 0) return SaveScreen(value("shot="));
    if (step.rfind("serve=", 0) == 0) return Serve(value("serve="));
    if (step.rfind("unicode=", 0) == 0) return TypeUnicode(value("unicode="));
    if (step == "selectall") return SendToEdit(EM_SETSEL, 0, -1);
    if (step == "clear") return SendToEdit(WM_CLEAR, 0, 0);
    if (step == "undo") return SendToEdit(WM_UNDO, 0, 0);
    if (step == "menu") return NoContextMenu();
    if (step == "post-ok") return PostOk();
    std::fprintf(stderr, "unknown step %s\n", step.c_str());
    return false;
}

// PINs stay off the output.
std::string PinSafeLabel(const std::string& step)
{
    for (const char* secret : {"type=", "serve=", "keys=", "unicode="})
        if (step.rfind(secret, 0) == 0) return step.substr(0, step.find('='));
    return step;
}

} // namespace

int main(int argc, char** argv)
{
    return RunDriverSteps(argc, argv, &g_timeoutMs, RunStep, PinSafeLabel);
}
