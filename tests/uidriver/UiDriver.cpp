#include "UiDriver.h"

#include <cstdio>
#include <sstream>

namespace {

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

BOOL CALLBACK CloseWindowProc(HWND window, LPARAM)
{
    PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

} // namespace

bool CUiDriver::Start(const std::wstring& steps)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE write = nullptr;
    if (!CreatePipe(&m_output, &write, &inherit, 0)) return false;
    SetHandleInformation(m_output, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = write;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    // Other programs may show windows on the same desktop: the driver
    // looks only at ours.
    std::wstring command =
        L"\"" + ProgramFolder() + m_program + L"\" --process " + std::to_wstring(GetCurrentProcessId()) + L" " + steps;
    PROCESS_INFORMATION info = {};
    BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    CloseHandle(write);
    if (!started) return false;
    CloseHandle(info.hThread);
    m_process = info.hProcess;
    m_reader = CreateThread(nullptr, 0, ReadOutput, this, 0, nullptr);
    return true;
}

DWORD WINAPI CUiDriver::ReadOutput(LPVOID self)
{
    auto* driver = static_cast<CUiDriver*>(self);
    char buffer[512];
    DWORD got = 0;
    while (ReadFile(driver->m_output, buffer, sizeof buffer, &got, nullptr) && got)
        driver->m_collected.append(buffer, got);
    return 0;
}

void CUiDriver::GuardThreadWindows(DWORD threadId)
{
    m_guardedThread = threadId;
    m_finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_guard = CreateThread(nullptr, 0, Guard, this, 0, nullptr);
}

// The code under test gets a while to take its windows down itself once the
// driver is done; a test that finishes in that while ends the guard at once.
DWORD WINAPI CUiDriver::Guard(LPVOID self)
{
    auto* driver = static_cast<CUiDriver*>(self);
    HANDLE finishedOrDriverEnded[2] = {driver->m_finished, driver->m_process};
    if (WaitForMultipleObjects(2, finishedOrDriverEnded, FALSE, INFINITE) == WAIT_OBJECT_0) return 0;
    DWORD graceMs = 3000;
    while (WaitForSingleObject(driver->m_finished, graceMs) == WAIT_TIMEOUT) {
        EnumThreadWindows(driver->m_guardedThread, CloseWindowProc, 0);
        graceMs = 500;
    }
    return 0;
}

void CUiDriver::EndGuard()
{
    if (m_finished) SetEvent(m_finished);
}

DriverRun CUiDriver::Finish(DWORD timeoutMs)
{
    EndGuard();
    DriverRun run;
    if (!m_process) return run;
    if (WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0) TerminateProcess(m_process, 2);
    GetExitCodeProcess(m_process, &run.exitCode);
    WaitForSingleObject(m_reader, 5000);
    run.output = m_collected;
    std::istringstream lines(m_collected);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("message: ", 0) == 0) run.messages.push_back(line.substr(9));
    }
    return run;
}

CUiDriver::~CUiDriver()
{
    EndGuard();
    if (m_process && WaitForSingleObject(m_process, 0) != WAIT_OBJECT_0) TerminateProcess(m_process, 2);
    if (m_guard) {
        WaitForSingleObject(m_guard, INFINITE);
        CloseHandle(m_guard);
    }
    if (m_finished) CloseHandle(m_finished);
    if (m_process) CloseHandle(m_process);
    if (m_reader) {
        WaitForSingleObject(m_reader, 5000);
        CloseHandle(m_reader);
    }
    if (m_output) CloseHandle(m_output);
}

std::wstring ScreenshotPath(const wchar_t* name)
{
    std::wstring folder = ProgramFolder() + L"screens";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\" + name;
}

bool HaveDisplay()
{
    wchar_t display[64] = {};
    return GetEnvironmentVariableW(L"DISPLAY", display, 64) > 0;
}

bool DisplayRequired()
{
    wchar_t required[8] = {};
    return GetEnvironmentVariableW(L"SIGWELL_REQUIRE_DISPLAY", required, 8) > 0 && required[0] != L'0';
}

long CountPixels(const std::wstring& path, COLORREF colour)
{
    FILE* in = _wfopen(path.c_str(), L"rb");
    if (!in) return -1;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER header = {};
    long count = -1;
    if (std::fread(&file, sizeof file, 1, in) == 1 && std::fread(&header, sizeof header, 1, in) == 1 &&
        header.biBitCount == 24) {
        count = 0;
        std::fseek(in, static_cast<long>(file.bfOffBits), SEEK_SET);
        unsigned char bgr[3];
        while (std::fread(bgr, 3, 1, in) == 1) {
            if (RGB(bgr[2], bgr[1], bgr[0]) == colour) ++count;
        }
    }
    std::fclose(in);
    return count;
}
