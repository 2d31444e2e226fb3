// The provider's diagnostics: every line to the debugger output, failures,
// codes and hex dumps also appended to one fixed log file.
#pragma once

#include <cstdint>

constexpr char kDefaultLogFilePath[] = "C:\\KeltoSoft\\VESK_LORVIN_CSP.log";
constexpr unsigned kLogHexWorkSize = 256;

// Empty until process attach sets it; the file is written only while set.
extern char LogFilePath[260];

void LogLine(const char* text);
// Completes a LogLine that ended in "Code : ".
void LogCode(std::uint32_t code);
// A failed vendor step: its text ending in "Code : ", the code, and the
// name of the step when given.
void LogFailure(const char* text, std::uint32_t status, const char* step = nullptr);
// work: a zeroed buffer of kLogHexWorkSize bytes, cleared after each line.
void LogHex(const std::uint8_t* bytes, std::uint32_t count, char* work);
