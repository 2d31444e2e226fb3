#include "TraceProvider.h"

#include <evntrace.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

const GUID TRACE_CONTROL_GUID = {0x5C8F2A58, 0x369A, 0x44F0, {0x92, 0x35, 0xC0, 0x5E, 0xCB, 0x1D, 0xD7, 0x3E}};

namespace {

typedef ULONG(__cdecl *PFN_TRACE_MESSAGE)(TRACEHANDLE, ULONG, LPCGUID, USHORT, ...);

const ULONG kMessageFlags = 0x2B; // sequence, GUID, time stamp, system info

// Written by the control callback, read without a lock at each trace
// point: a race sends or skips one event.
volatile ULONG g_ulEnableFlags;
volatile TRACEHANDLE g_hLogger;
volatile LONG g_nEnabled;
TRACEHANDLE g_hRegistration;
PFN_TRACE_MESSAGE g_pfnTraceMessage;
FILE *g_pSink;

ULONG WINAPI ControlCallback(WMIDPREQUESTCODE nCode, PVOID, ULONG *, PVOID pBuffer)
{
    if (nCode == WMI_ENABLE_EVENTS) {
        TRACEHANDLE hLogger = GetTraceLoggerHandle(pBuffer);
        g_hLogger = hLogger;
        g_ulEnableFlags = GetTraceEnableFlags(hLogger);
        g_nEnabled = 1;
    } else if (nCode == WMI_DISABLE_EVENTS) {
        g_nEnabled = 0;
        g_ulEnableFlags = 0;
        g_hLogger = 0;
    }
    return ERROR_SUCCESS;
}

bool ReadDword(HKEY hKey, const wchar_t *pwszName, DWORD *pdwValue)
{
    DWORD cb = sizeof(*pdwValue);
    DWORD dwType = 0;
    return RegQueryValueExW(hKey, pwszName, nullptr, &dwType, reinterpret_cast<BYTE *>(pdwValue), &cb) ==
        ERROR_SUCCESS &&
        dwType == REG_DWORD;
}

// The boot-time logger enabled for this provider applies from the start.
void ApplyGlobalLogger()
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Wmi\\GlobalLogger", 0, KEY_READ,
                      &hKey) != ERROR_SUCCESS)
        return;
    DWORD dwStart = 0, dwFlags = 0;
    HKEY hProvider = nullptr;
    if (ReadDword(hKey, L"Start", &dwStart) && dwStart != 0 &&
        RegOpenKeyExW(hKey, L"{5C8F2A58-369A-44F0-9235-C05ECB1DD73E}", 0, KEY_READ, &hProvider) == ERROR_SUCCESS) {
        if (ReadDword(hProvider, L"Flags", &dwFlags)) {
            g_hLogger = 1; // the global logger's handle
            g_ulEnableFlags = dwFlags;
            g_nEnabled = 1;
        }
        RegCloseKey(hProvider);
    }
    RegCloseKey(hKey);
}

// Tracing sink for tests: where the platform delivers no events, the
// variable SIGWELL_TRACE_SINK names a file that receives each event as a
// line, and SIGWELL_TRACE_FLAGS (hexadecimal) gives the flag word.
void OpenSink()
{
    const char *pszPath = getenv("SIGWELL_TRACE_SINK");
    if (pszPath == nullptr || *pszPath == '\0') return;
    g_pSink = fopen(pszPath, "ab");
    if (g_pSink == nullptr) return;
    const char *pszFlags = getenv("SIGWELL_TRACE_FLAGS");
    g_ulEnableFlags = pszFlags ? strtoul(pszFlags, nullptr, 16) : 0xFF;
    g_nEnabled = 1;
}

std::string ArgText(const TraceArg &arg)
{
    switch (arg.kind) {
    case TraceArgKind::Int: {
        char sz[16];
        snprintf(sz, sizeof(sz), "0x%08lx", *static_cast<const ULONG *>(arg.pData));
        return sz;
    }
    case TraceArgKind::Narrow:
        return std::string(static_cast<const char *>(arg.pData), arg.cbData - 1);
    case TraceArgKind::Wide:
        break;
    }
    const wchar_t *pw = static_cast<const wchar_t *>(arg.pData);
    int cch = static_cast<int>(arg.cbData / sizeof(wchar_t)) - 1;
    int cb = WideCharToMultiByte(CP_UTF8, 0, pw, cch, nullptr, 0, nullptr, nullptr);
    std::string text(cb, '\0');
    WideCharToMultiByte(CP_UTF8, 0, pw, cch, &text[0], cb, nullptr, nullptr);
    return text;
}

// Tabs and line ends inside arguments are escaped: one event, one line.
std::string Escaped(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

void WriteSink(const char *pszSet, USHORT usNumber, ULONG ulFlag, const TraceArg *pArgs, size_t nArgs)
{
    std::string line = std::to_string(ulFlag) + '\t' + std::to_string(usNumber) + '\t' + pszSet;
    for (size_t i = 0; i < nArgs; ++i) line += '\t' + Escaped(ArgText(pArgs[i]));
    line += '\n';
    fwrite(line.data(), 1, line.size(), g_pSink);
    fflush(g_pSink);
}

// Message GUID of a source file's set, derived from its name.
GUID MessageGuid(const char *pszSet)
{
    GUID guid = TRACE_CONTROL_GUID;
    ULONG ulHash = 2166136261u;
    for (const char *p = pszSet; *p; ++p) ulHash = (ulHash ^ static_cast<BYTE>(*p)) * 16777619u;
    guid.Data1 ^= ulHash;
    return guid;
}

void SendTraceMessage(const char *pszSet, USHORT usNumber, const TraceArg *a, size_t n)
{
    GUID guid = MessageGuid(pszSet);
    TRACEHANDLE h = g_hLogger;
    switch (n) {
    case 0:
        g_pfnTraceMessage(h, kMessageFlags, &guid, usNumber, nullptr);
        break;
    case 1:
        g_pfnTraceMessage(h, kMessageFlags, &guid, usNumber, a[0].pData, a[0].cbData, nullptr);
        break;
    case 2:
        g_pfnTraceMessage(h, kMessageFlags, &guid, usNumber, a[0].pData, a[0].cbData, a[1].pData, a[1].cbData, nullptr);
        break;
    default:
        g_pfnTraceMessage(h, kMessageFlags, &guid, usNumber, a[0].pData, a[0].cbData, a[1].pData, a[1].cbData,
                          a[2].pData, a[2].cbData, nullptr);
        break;
    }
}

} // namespace

TraceArg TraceArgWide(const wchar_t *pwszText)
{
    if (pwszText == nullptr)
        pwszText = L"NULL";
    else if (*pwszText == L'\0')
        pwszText = L"<NULL>";
    return {pwszText, static_cast<ULONG>((wcslen(pwszText) + 1) * sizeof(wchar_t)), TraceArgKind::Wide};
}

TraceArg TraceArgNarrow(const char *pszText)
{
    if (pszText == nullptr) pszText = "NULL";
    return {pszText, static_cast<ULONG>(strlen(pszText) + 1), TraceArgKind::Narrow};
}

TraceArg TraceArgInt(const LONG &nValue)
{
    return {&nValue, sizeof(nValue), TraceArgKind::Int};
}

void TraceRegisterProvider()
{
    DWORD dwLastError = GetLastError();
    HMODULE hAdvapi = GetModuleHandleW(L"advapi32.dll");
    if (hAdvapi == nullptr) hAdvapi = LoadLibraryW(L"advapi32.dll");
    if (hAdvapi != nullptr)
        g_pfnTraceMessage =
            reinterpret_cast<PFN_TRACE_MESSAGE>(reinterpret_cast<void (*)()>(GetProcAddress(hAdvapi, "TraceMessage")));

    TRACE_GUID_REGISTRATION reg = {&TRACE_CONTROL_GUID, nullptr};
    RegisterTraceGuidsW(ControlCallback, nullptr, &TRACE_CONTROL_GUID, 1, &reg, nullptr, nullptr, &g_hRegistration);
    ApplyGlobalLogger();
    OpenSink();
    SetLastError(dwLastError);
}

void TraceUnregisterProvider()
{
    DWORD dwLastError = GetLastError();
    if (g_hRegistration != 0) UnregisterTraceGuids(g_hRegistration);
    g_hRegistration = 0;
    g_nEnabled = 0;
    g_ulEnableFlags = 0;
    if (g_pSink != nullptr) fclose(g_pSink);
    g_pSink = nullptr;
    SetLastError(dwLastError);
}

bool TraceIsEnabled(ULONG ulFlag)
{
    return g_nEnabled != 0 && (g_ulEnableFlags & ulFlag) != 0;
}

void TraceSendEvent(const char *pszSet, USHORT usNumber, ULONG ulFlag, const TraceArg *pArgs, size_t nArgs)
{
    if (!TraceIsEnabled(ulFlag)) return;
    DWORD dwLastError = GetLastError();
    if (g_pfnTraceMessage != nullptr && g_hLogger != 0) SendTraceMessage(pszSet, usNumber, pArgs, nArgs);
    if (g_pSink != nullptr) WriteSink(pszSet, usNumber, ulFlag, pArgs, nArgs);
    SetLastError(dwLastError);
}
