#include "Logger.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

std::int32_t LogLevel = 5;
const char* LogLinePrefix = "";
const char* LogPathPrefix = "";

namespace {

constexpr std::size_t kLineRoom = 4096;

const char* LevelTag(int level)
{
    static const char* const tags[] = {"[ERROR] ", "[WARN] ", "[INFO] ", "[DEBUG] "};
    return tags[level - 1];
}

void AppendToHourFile(const SYSTEMTIME& now, const char* text)
{
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%s_%04d-%02d-%02d-%02d.log", LogPathPrefix, now.wYear, now.wMonth, now.wDay,
                  now.wHour);
    FILE* file = std::fopen(path, "a");
    if (!file) return;
    std::fprintf(file, "%s", text);
    std::fflush(file);
    std::fclose(file);
}

// Appends to a terminated text in a fixed buffer; what does not fit is cut.
void Append(char* buffer, std::size_t room, const char* format, ...)
{
    std::size_t used = std::strlen(buffer);
    if (used + 1 >= room) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer + used, room - used, format, args);
    va_end(args);
}

} // namespace

void LogMessage(int level, const char* format, ...)
{
    if (level < LOG_ERROR || level > LOG_DEBUG || level > LogLevel) return;
    // One byte is kept back for the newline, so a cut line still ends.
    char line[kLineRoom] = {};
    const std::size_t textRoom = sizeof line - 1;
    SYSTEMTIME now;
    GetLocalTime(&now);
    Append(line, textRoom, "%s", LevelTag(level));
    Append(line, textRoom, "%s %04d-%02d-%02d %02d:%02d:%02d Pid:[%#x] ", LogLinePrefix, now.wYear, now.wMonth,
           now.wDay, now.wHour, now.wMinute, now.wSecond, static_cast<unsigned>(GetCurrentThreadId()));
    std::size_t used = std::strlen(line);
    if (used + 1 < textRoom) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(line + used, textRoom - used, format, args);
        va_end(args);
    }
    std::strcat(line, "\n");
    OutputDebugStringA(line);
    AppendToHourFile(now, line);
}

std::uint32_t HexEncode(const void* data, std::uint32_t length, char* output)
{
    static const char digits[] = "0123456789ABCDEF";
    if (!output || length > (kHexOutputRoom - 2) / 2) return kHexEncodeFailed;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::uint32_t i = 0; i < length; ++i) {
        output[2 * i] = digits[bytes[i] >> 4];
        output[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    output[2 * length] = '\0';
    return 0;
}

void LogHexData(const void* data, std::uint32_t length)
{
    if (LogLevel < LOG_DEBUG || !data) return;
    char text[kHexOutputRoom];
    if (HexEncode(data, length, text) != 0) return;
    std::strcat(text, "\n");
    OutputDebugStringA(text);
    SYSTEMTIME now;
    GetLocalTime(&now);
    AppendToHourFile(now, text);
}

const char* SourceName(const char* file)
{
    const char* slash = std::strrchr(file, '/');
    const char* backslash = std::strrchr(file, '\\');
    const char* base = slash > backslash ? slash : backslash;
    return base ? base + 1 : file;
}

void LogNullPointer(const char* file, int line, const char* name)
{
    LogMessage(LOG_ERROR, "[%s(%d)]Null Pointer: %s", SourceName(file), line, name);
}
