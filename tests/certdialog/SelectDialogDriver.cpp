// SelectDialogDriver: works the certificate-selection dialog from outside,
// as a person would: it finds the dialog, clicks rows and buttons with the
// mouse, presses keys, reports what the dialog shows and saves screenshots.
//
//   SelectDialogDriver [--timeout SECONDS] [--process PID] STEP...
//     --process       look only at the windows of that process
//     dialog          wait for the selection dialog
//     texts           print "title: T", "ok: T", "cancel: T" and "rows: N"
//     selected        print "selected: N", the list's current row
//     row=N           click row N of the list
//     double=N        double-click at row N; N past the last row: the list
//                     is made 20 pixels taller and the click lands in the
//                     empty space below its rows
//     viewer          wait for another visible top-level window of the
//                     process (the certificate viewer), then print
//                     "windows: N" as windows does
//     closeviewer     close the process's other top-level window (the
//                     certificate viewer) and wait until it is gone and
//                     the dialog takes input again
//     hover=N         move the mouse over row N
//     ok | cancel     click OK or Cancel
//     escape | enter  press the key in the dialog
//     close           press Alt+F4 in the dialog
//     windows         print "windows: N", the visible top-level windows of
//                     the process
//     gone            wait until the dialog is closed
//     shot=FILE       save the screen as a 24-bit BMP file
#include "DesktopInput.h"
#include "DriverSteps.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kListId = 1001;
constexpr DWORD kPollMs = 20;

DWORD g_timeoutMs = 30000;

bool IsSelectDialog(HWND window)
{
    if (!IsDialog(window)) return false;
    HWND list = GetDlgItem(window, kListId);
    wchar_t name[16] = {};
    if (list) GetClassNameW(list, name, 16);
    return lstrcmpiW(name, L"ListBox") == 0;
}

HWND Dialog()
{
    HWND dialog = WaitFor(IsSelectDialog, g_timeoutMs);
    if (dialog) {
        BringForward(dialog);
        WaitDrawn(dialog);
    }
    return dialog;
}

std::wstring TextOf(HWND window)
{
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

void Print(const char* name, const std::string& value)
{
    std::printf("%s: %s\n", name, value.c_str());
    std::fflush(stdout);
}

// Screen point in the middle of row N, counted from the list's top row.
POINT RowPoint(HWND list, int row)
{
    int height = static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
    int top = static_cast<int>(SendMessageW(list, LB_GETTOPINDEX, 0, 0));
    RECT client = {};
    GetClientRect(list, &client);
    POINT point = {client.right / 2, (row - top) * height + height / 2};
    ClientToScreen(list, &point);
    return point;
}

bool ClickRow(int row, bool twice)
{
    HWND dialog = Dialog();
    if (!dialog) return false;
    HWND list = GetDlgItem(dialog, kListId);
    POINT point = RowPoint(list, row);
    int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    if (row >= count) {
        // The list fits its rows exactly: give it room below them.
        RECT rect = {};
        GetWindowRect(list, &rect);
        SetWindowPos(list, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top + 20,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        point = RowPoint(list, count - 1);
        int height = static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
        point.y += height / 2 + 10;
        Sleep(200);
    }
    ClickAt(point.x, point.y, twice);
    Sleep(200);
    return true;
}

HWND g_viewer = nullptr;

BOOL CALLBACK FindViewer(HWND window, LPARAM)
{
    if (IsOfTargetProcess(window) && IsWindowVisible(window) && !IsSelectDialog(window)) {
        g_viewer = window;
        return FALSE;
    }
    return TRUE;
}

// The viewer is modal: the dialog takes clicks again only once its owner
// loop has ended and enabled it, which may come after the viewer is hidden.
bool CloseViewer()
{
    g_viewer = nullptr;
    EnumWindows(FindViewer, 0);
    if (!g_viewer) return false;
    PostMessageW(g_viewer, WM_CLOSE, 0, 0);
    if (!WaitEnded(g_viewer, g_timeoutMs)) return false;
    HWND dialog = Dialog();
    for (DWORD waited = 0; dialog && !IsWindowEnabled(dialog); waited += kPollMs) {
        if (waited >= g_timeoutMs) return false;
        Sleep(kPollMs);
    }
    return dialog != nullptr;
}

bool Hover(int row)
{
    HWND dialog = Dialog();
    if (!dialog) return false;
    POINT point = RowPoint(GetDlgItem(dialog, kListId), row);
    SetCursorPos(point.x - 5, point.y);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = 5;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    SendInput(1, &input, sizeof input);
    Sleep(300);
    return true;
}

bool PrintTexts()
{
    HWND dialog = Dialog();
    if (!dialog) return false;
    Print("title", Utf8(TextOf(dialog)));
    Print("ok", Utf8(TextOf(GetDlgItem(dialog, IDOK))));
    Print("cancel", Utf8(TextOf(GetDlgItem(dialog, IDCANCEL))));
    Print("rows", std::to_string(SendMessageW(GetDlgItem(dialog, kListId), LB_GETCOUNT, 0, 0)));
    return true;
}

bool PrintSelected()
{
    HWND dialog = Dialog();
    if (!dialog) return false;
    Print("selected", std::to_string(SendMessageW(GetDlgItem(dialog, kListId), LB_GETCURSEL, 0, 0)));
    return true;
}

bool ClickButton(int id)
{
    HWND dialog = Dialog();
    if (!dialog) return false;
    ClickCentre(GetDlgItem(dialog, id));
    return true;
}

bool PressInDialog(WORD vk, bool alt)
{
    HWND dialog = Dialog();
    if (!dialog) return false;
    if (alt) SendKey(VK_MENU, false);
    PressKey(vk);
    if (alt) SendKey(VK_MENU, true);
    return true;
}

BOOL CALLBACK CountVisible(HWND window, LPARAM param)
{
    if (IsOfTargetProcess(window) && IsWindowVisible(window)) ++*reinterpret_cast<int*>(param);
    return TRUE;
}

void PrintWindowCount()
{
    int count = 0;
    EnumWindows(CountVisible, reinterpret_cast<LPARAM>(&count));
    Print("windows", std::to_string(count));
}

// Nothing can be waited on for a window that must not open: give it a
// second to show.
bool PrintWindows()
{
    Sleep(1000);
    PrintWindowCount();
    return true;
}

bool WaitViewer()
{
    for (DWORD waited = 0; waited < g_timeoutMs; waited += kPollMs) {
        g_viewer = nullptr;
        EnumWindows(FindViewer, 0);
        if (g_viewer) {
            PrintWindowCount();
            return true;
        }
        Sleep(kPollMs);
    }
    return false;
}

bool WaitGone()
{
    for (DWORD waited = 0; waited < g_timeoutMs; waited += kPollMs) {
        if (!FindTopLevel(IsSelectDialog)) return true;
        Sleep(kPollMs);
    }
    return false;
}

bool RunStep(const std::string& step)
{
    auto number = [&](const char* prefix) { return std::atoi(step.c_str() + std::strlen(prefix)); };
    if (step == "dialog") return Dialog() != nullptr;
    if (step == "texts") return PrintTexts();
    if (step == "selected") return PrintSelected();
    if (step.rfind("row=", 0) == 0) return ClickRow(number("row="), false);
    if (step.rfind("double=", 0) == 0) return ClickRow(number("double="), true);
    if (step.rfind("hover=", 0) == 0) return Hover(number("hover="));
    if (step == "ok") return ClickButton(IDOK);
    if (step == "cancel") return ClickButton(IDCANCEL);
    if (step == "escape") return PressInDialog(VK_ESCAPE, false);
    if (step == "enter") return PressInDialog(VK_RETURN, false);
    if (step == "close") return PressInDialog(VK_F4, true);
    if (step == "windows") return PrintWindows();
    if (step == "viewer") return WaitViewer();
    if (step == "closeviewer") return CloseViewer();
    if (step == "gone") return WaitGone();
    if (step.rfind("shot=", 0) == 0) return SaveScreen(Wide(step.substr(5)));
    std::fprintf(stderr, "unknown step %s\n", step.c_str());
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    return RunDriverSteps(argc, argv, &g_timeoutMs, RunStep);
}
