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
DWORD g_process = 0;  // 0: windows of any process

struct FindQuery {
    bool (*match)(HWND);
    HWND found;
};

bool IsOfTargetProcess(HWND window)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    return g_process == 0 || owner == g_process;
}

bool IsDialog(HWND window)
{
    if (!IsOfTargetProcess(window)) return false;
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    return lstrcmpW(name, L"#32770") == 0 && IsWindowVisible(window);
}

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

BOOL CALLBACK FindProc(HWND window, LPARAM param)
{
    auto* query = reinterpret_cast<FindQuery*>(param);
    if (!query->match(window)) return TRUE;
    query->found = window;
    return FALSE;
}

HWND FindTopLevel(bool (*match)(HWND))
{
    FindQuery query = {match, nullptr};
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

HWND WaitFor(bool (*match)(HWND), DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += kPollMs) {
        if (HWND window = FindTopLevel(match)) return window;
        if (waited >= timeoutMs) return nullptr;
        Sleep(kPollMs);
    }
}

std::string Utf8(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
    return out;
}

void SendKey(WORD vk, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

void PressKey(WORD vk)
{
    SendKey(vk, false);
    SendKey(vk, true);
    Sleep(30);
}

void ClickAt(int x, int y)
{
    SetCursorPos(x, y);
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, input, sizeof input[0]);
    Sleep(50);
}

void ClickCentre(HWND control)
{
    RECT box = {};
    GetWindowRect(control, &box);
    // Right of the centre: the button's image lies over its left side.
    ClickAt(box.left + (box.right - box.left) * 2 / 3, (box.top + box.bottom) / 2);
}

HWND FocusOf(HWND window)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

bool BringForward(HWND window)
{
    for (DWORD waited = 0; waited < 2000; waited += kPollMs) {
        if (GetForegroundWindow() == window) return true;
        SetForegroundWindow(window);
        Sleep(kPollMs);
    }
    return GetForegroundWindow() == window;
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

// A 24-bit picture of the whole primary screen.
class ScreenShot {
public:
    ScreenShot()
    {
        m_header.biSize = sizeof m_header;
        m_header.biWidth = GetSystemMetrics(SM_CXSCREEN);
        m_header.biHeight = GetSystemMetrics(SM_CYSCREEN);  // bottom-up, as BMP files store rows
        m_header.biPlanes = 1;
        m_header.biBitCount = 24;
        m_header.biCompression = BI_RGB;
        DWORD stride = (static_cast<DWORD>(m_header.biWidth) * 3 + 3) & ~3u;
        m_header.biSizeImage = stride * static_cast<DWORD>(m_header.biHeight);
        m_pixels.resize(m_header.biSizeImage);
    }

    bool Capture()
    {
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        void* bits = nullptr;
        HBITMAP bitmap =
            CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&m_header), DIB_RGB_COLORS, &bits, nullptr, 0);
        bool ok = bitmap != nullptr;
        if (ok) {
            HGDIOBJ old = SelectObject(memory, bitmap);
            ok = BitBlt(memory, 0, 0, m_header.biWidth, m_header.biHeight, screen, 0, 0, SRCCOPY) != FALSE;
            GdiFlush();
            SelectObject(memory, old);
            if (ok) std::memcpy(m_pixels.data(), bits, m_pixels.size());
        }
        if (bitmap) DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        return ok;
    }

    // Pixels that differ from another shot of the same screen.
    std::size_t DifferingPixels(const ScreenShot& other) const
    {
        std::size_t count = 0;
        for (std::size_t i = 0; i + 2 < m_pixels.size(); i += 3)
            count += std::memcmp(&m_pixels[i], &other.m_pixels[i], 3) != 0;
        return count;
    }

    bool Save(const std::wstring& path) const
    {
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof file + sizeof m_header;
        file.bfSize = file.bfOffBits + m_header.biSizeImage;
        FILE* out = _wfopen(path.c_str(), L"wb");
        bool ok = out && std::fwrite(&file, sizeof file, 1, out) == 1 &&
                  std::fwrite(&m_header, sizeof m_header, 1, out) == 1 &&
                  std::fwrite(m_pixels.data(), m_pixels.size(), 1, out) == 1;
        if (out) std::fclose(out);
        return ok;
    }

private:
    BITMAPINFOHEADER m_header = {};
    std::vector<unsigned char> m_pixels;
};

BOOL CALLBACK PaintNowProc(HWND window, LPARAM)
{
    DWORD_PTR ignored = 0;
    if (IsOfTargetProcess(window) && IsWindowVisible(window) &&
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored)) {
        RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
    return TRUE;
}

// A window just shown may not have reached the screen yet: pending paints
// are done first, then the screen is taken once two shots in a row agree
// (but for a blinking caret).
bool SaveScreen(const std::wstring& path)
{
    constexpr std::size_t kCaretPixels = 64;
    constexpr DWORD kSettleMs = 100;
    EnumWindows(PaintNowProc, 0);
    ScreenShot previous, current;
    if (!previous.Capture()) return false;
    for (DWORD waited = 0; waited < g_timeoutMs; waited += kSettleMs) {
        Sleep(kSettleMs);
        if (!current.Capture()) return false;
        if (current.DifferingPixels(previous) <= kCaretPixels) return current.Save(path);
        std::swap(previous, current);
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
    if (step == "box") return WaitFor(IsMessageBox, g_timeoutMs) != nullptr;
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
            g_process = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
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
