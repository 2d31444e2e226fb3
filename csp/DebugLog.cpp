#include "DebugLog.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

char LogFilePath[260];

namespace {

constexpr char kHexIndent[] = "\r\n              "; // line end and 14 blanks

// Opened per write without sharing, so a write that meets another thread's
// open file is dropped rather than interleaved inside a line.
void AppendToFile(const char* text, std::size_t len)
{
    if (LogFilePath[0] == '\0') return;
    HANDLE file = CreateFileA(LogFilePath, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written;
    WriteFile(file, text, static_cast<DWORD>(len), &written, nullptr);
    CloseHandle(file);
}

} // namespace

void LogLine(const char* text)
{
    OutputDebugStringA(text);
    if (LogFilePath[0] == '\0') return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char prefix[96];
    int n = std::snprintf(prefix, sizeof prefix, "%04d-%02d-%02d %02d:%02d:%02d THREAD : 0x%08x|0x%08X ", now.wYear,
                          now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                          static_cast<unsigned>(GetCurrentProcessId()), static_cast<unsigned>(GetCurrentThreadId()));
    std::string line(prefix, n > 0 ? n : 0);
    line += text;
    AppendToFile(line.data(), line.size());
}

void LogCode(std::uint32_t code)
{
    char text[32];
    int n = std::snprintf(text, sizeof text, "0x%08X \r\n", static_cast<unsigned>(code));
    OutputDebugStringA(text);
    AppendToFile(text, n);
}

void LogHex(const std::uint8_t* bytes, std::uint32_t count, char* work)
{
    std::size_t used = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        used += std::snprintf(work + used, kLogHexWorkSize - used, "%02X ", bytes[i]);
        if ((i + 1) % 16 == 0) {
            std::memcpy(work + used, kHexIndent, sizeof kHexIndent - 1);
            AppendToFile(work, used + sizeof kHexIndent - 1);
            std::memset(work, 0, kLogHexWorkSize);
            used = 0;
        }
    }
    std::memcpy(work + used, "\r\n", 2);
    AppendToFile(work, used + 2);
    std::memset(work, 0, kLogHexWorkSize);
}

void LogFailure(const char* text, std::uint32_t status, const char* step)
{
    LogLine(text);
    LogCode(status);
    if (step) LogLine(step);
}
