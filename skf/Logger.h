// The library's leveled logger: each line goes to the debugger output and
// is appended to the current hour's log file.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int LOG_ERROR = 1;
constexpr int LOG_WARN = 2;
constexpr int LOG_INFO = 3;
constexpr int LOG_DEBUG = 4;

constexpr std::size_t kHexOutputRoom = 40960;
constexpr std::uint32_t kHexEncodeFailed = 0xFFFFFFFF;

extern std::int32_t LogLevel;
extern const char* LogLinePrefix;
extern const char* LogPathPrefix;

void LogMessage(int level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void LogHexData(const void* data, std::uint32_t length);
std::uint32_t HexEncode(const void* data, std::uint32_t length, char* output);

// A source path without its folders, as log lines name it.
const char* SourceName(const char* file);

// "[file(line)]Null Pointer: name" at level 1.
void LogNullPointer(const char* file, int line, const char* name);
