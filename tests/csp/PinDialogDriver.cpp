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
//     ok | cancel     click OK or Cancel of the PIN dialog
//     enter | escape  press the key in the foreground window
//     ok-enabled=0|1  check whether OK can be pressed
//     box             wait for a message box and leave it up
//     message         wait for a message box, print "message: TEXT", press OK
//     gone            wait until neither the PIN dialog nor the shade is shown
//     shot=FILE       save the screen as a 24-bit BMP file
//     serve=PIN       until killed (or the timeout): type PIN into every PIN
//                     dialog that appears and press OK; answer message boxes
#include "DesktopInput.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kPinEditId = 1001;
constexpr int kMessageTextId = 0xFFFF;  // the text control of a message box
constexpr DWORD kPollMs = 20;

DWORD g_timeoutMs = 30000;

bool IsPinDialog(HWND window)
{
    HWND edit = IsDialog(window) ? GetDlgItem(window, kPinEditId) : nullptr;
    return edit && IsWindowVisible(edit) && GetDlgItem(window, IDOK) && GetDlgItem(window, IDCANCEL);
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
    int expected = TextLength(edit) + static_cast<int>(text.size());
    if (expected > limit) expected = limit;
    for (wchar_t c : text) {
        SHORT scan = VkKeyScanW(c);
        if (scan == -1) return false;
        bool shift = (scan & 0x100) != 0;
        if (shift) SendKey(VK_SHIFT, false);
        PressKey(LOBYTE(scan));
        if (shift) SendKey(VK_SHIFT, true);
    }
    return WaitTextLength(edit, expected);
}

bool ClickButton(int id)
{
    HWND dialog = WaitFor(IsPinDialog, g_timeoutMs);
    if (!dialog) return false;
    BringForward(dialog);
    ClickCentre(GetDlgItem(dialog, id));
    return true;
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
    // A click that lands while the box is still coming forward is lost, as
    // it would be for a person, who then clicks again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        BringForward(box);
        ClickCentre(GetDlgItem(box, IDOK));
        for (DWORD waited = 0; waited < 1000; waited += kPollMs) {
            if (!IsWindow(box) || !IsWindowVisible(box)) return true;
            Sleep(kPollMs);
        }
    }
    return false;
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
            // Give the dialog its first paint, as a person would look first.
            Sleep(300);
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
    if (step == "ok") return ClickButton(IDOK);
    if (step == "cancel") return ClickButton(IDCANCEL);
    if (step == "enter" || step == "escape") {
        HWND target = FindTopLevel(IsPinDialog);
        if (!target) target = FindTopLevel(IsShade);
        if (target) BringForward(target);
        PressKey(step == "enter" ? VK_RETURN : VK_ESCAPE);
        return true;
    }
    if (step == "ok-enabled=0" || step == "ok-enabled=1") return CheckOkEnabled(step.back() == '1');
    if (step == "box") {
        bool shown = WaitFor(IsMessageBox, g_timeoutMs) != nullptr;
        // A screenshot right after would catch the box before its first paint.
        Sleep(300);
        return shown;
    }
    if (step == "message") return AnswerMessage(g_timeoutMs);
    if (step == "gone") return WaitGone();
    if (step.rfind("shot=", 0) == 0) return SaveScreen(value("shot="));
    if (step.rfind("serve=", 0) == 0) return Serve(value("serve="));
    std::fprintf(stderr, "unknown step %s\n", step.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> steps;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            g_timeoutMs = static_cast<DWORD>(std::atoi(argv[++i])) * 1000;
        } else if (std::strcmp(argv[i], "--process") == 0 && i + 1 < argc) {
            SetTargetProcess(static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10)));
        } else {
            steps.push_back(argv[i]);
        }
    }
    for (const std::string& step : steps) {
        // PINs stay off the output.
        bool secret = step.rfind("type=", 0) == 0 || step.rfind("serve=", 0) == 0;
        std::printf("step: %s\n", secret ? step.substr(0, step.find('=')).c_str() : step.c_str());
        std::fflush(stdout);
        if (!RunStep(step)) {
            std::printf("failed: %s\n", step.c_str());
            return 1;
        }
    }
    return 0;
}
