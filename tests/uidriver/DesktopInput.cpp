#include "DesktopInput.h"

#include <cstdio>

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

}  // namespace

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

bool BringForward(HWND window)
{
    for (DWORD waited = 0; waited < 2000; waited += kPollMs) {
        if (GetForegroundWindow() == window) return true;
        SetForegroundWindow(window);
        Sleep(kPollMs);
    }
    return GetForegroundWindow() == window;
}

bool SaveScreen(const std::wstring& path)
{
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;  // bottom-up, as BMP files store rows
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    header.biSizeImage = stride * static_cast<DWORD>(height);

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bitmap != nullptr;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
    }
    if (ok) {
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof file + sizeof header;
        file.bfSize = file.bfOffBits + header.biSizeImage;
        FILE* out = _wfopen(path.c_str(), L"wb");
        ok = out && std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&header, sizeof header, 1, out) == 1 &&
             std::fwrite(bits, header.biSizeImage, 1, out) == 1;
        if (out) std::fclose(out);
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
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
