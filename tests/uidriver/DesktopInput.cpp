#include "DesktopInput.h"

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kPollMs = 20;

DWORD g_process = 0;

struct FindQuery {
    bool (*match)(HWND);
    HWND found;
};

BOOL CALLBACK FindProc(HWND window, LPARAM param)
{
    auto* query = reinterpret_cast<FindQuery*>(param);
    if (!query->match(window)) return TRUE;
    query->found = window;
    return FALSE;
}

} // namespace

void SetTargetProcess(DWORD processId)
{
    g_process = processId;
}

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

void ClickAt(int x, int y, bool twice)
{
    SetCursorPos(x, y);
    INPUT input[4] = {};
    for (INPUT& one : input) one.type = INPUT_MOUSE;
    input[0].mi.dwFlags = input[2].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = input[3].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(twice ? 4 : 2, input, sizeof input[0]);
    Sleep(50);
}

void ClickCentre(HWND control)
{
    RECT box = {};
    GetWindowRect(control, &box);
    ClickAt(box.left + (box.right - box.left) * 2 / 3, (box.top + box.bottom) / 2);
}

// A window manager may leave another program's activation request
// unanswered: then a click on the window's top edge, as a person would.
bool BringForward(HWND window)
{
    constexpr DWORD kClickAfterMs = 400;
    for (DWORD waited = 0; waited < 2000; waited += kPollMs) {
        if (GetForegroundWindow() == window) return true;
        if (waited == kClickAfterMs) {
            RECT box = {};
            GetWindowRect(window, &box);
            ClickAt((box.left + box.right) / 2, box.top + 3);
        } else {
            SetForegroundWindow(window);
        }
        Sleep(kPollMs);
    }
    return GetForegroundWindow() == window;
}

bool WaitDrawn(HWND window)
{
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored) &&
        RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

bool WaitEnded(HWND window, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += kPollMs) {
        if (!IsWindow(window) || !IsWindowVisible(window)) return true;
        if (waited >= timeoutMs) return false;
        Sleep(kPollMs);
    }
}

bool ClickUntilEnded(HWND window, int buttonId, DWORD waitMs)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        BringForward(window);
        WaitDrawn(window);
        ClickCentre(GetDlgItem(window, buttonId));
        if (WaitEnded(window, waitMs)) return true;
    }
    return false;
}

namespace {

// A 24-bit picture of part of the screen.
class ScreenShot {
public:
    explicit ScreenShot(const RECT& area) : m_left(area.left), m_top(area.top)
    {
        m_header.biSize = sizeof m_header;
        m_header.biWidth = area.right - area.left;
        m_header.biHeight = area.bottom - area.top; // bottom-up, as BMP files store rows
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
            ok = BitBlt(memory, 0, 0, m_header.biWidth, m_header.biHeight, screen, m_left, m_top, SRCCOPY) != FALSE;
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
    int m_left, m_top;
    BITMAPINFOHEADER m_header = {};
    std::vector<unsigned char> m_pixels;
};

BOOL CALLBACK PaintNowProc(HWND window, LPARAM)
{
    if (IsOfTargetProcess(window) && IsWindowVisible(window)) WaitDrawn(window);
    return TRUE;
}

// A window just shown may not have reached the screen yet: pending paints
// are done first, then the area is taken once two shots in a row agree
// (but for a blinking caret).
bool SaveArea(const RECT& area, const std::wstring& path)
{
    constexpr std::size_t kCaretPixels = 64;
    constexpr DWORD kSettleMs = 100;
    constexpr DWORD kSettleLimitMs = 20000;
    EnumWindows(PaintNowProc, 0);
    ScreenShot previous(area), current(area);
    if (!previous.Capture()) return false;
    for (DWORD waited = 0; waited < kSettleLimitMs; waited += kSettleMs) {
        Sleep(kSettleMs);
        if (!current.Capture()) return false;
        if (current.DifferingPixels(previous) <= kCaretPixels) return current.Save(path);
        std::swap(previous, current);
    }
    return false;
}

} // namespace

bool SaveScreen(const std::wstring& path)
{
    return SaveArea({0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}, path);
}

bool SaveWindow(HWND window, const std::wstring& path)
{
    RECT box = {};
    return GetWindowRect(window, &box) && SaveArea(box, path);
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
