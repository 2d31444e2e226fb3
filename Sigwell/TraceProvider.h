// Event tracing of the browser-facing deliverables: one trace provider per
// process, enabled by a trace controller with a flag word.
#pragma once

#include <windows.h>
#include <cstddef>

// Bits of the enable-flag word.
enum : ULONG {
    TRACE_FLAG_ERROR = 0x01,    // error reports that carry no status
    TRACE_FLAG_FAILED = 0x02,   // status events of failed steps
    TRACE_FLAG_INFO = 0x04,     // passed steps, successful statuses, values
    TRACE_FLAG_FUNCTION = 0x08, // function entry and exit
};

// Message numbers of the set shared by TraceHelper and the status events.
enum : USHORT {
    TRACE_MSG_ENTRY = 10,
    TRACE_MSG_EXIT = 11,
    TRACE_MSG_ERROR_REPORT = 12,
    TRACE_MSG_FAILED_STATUS = 13,
    TRACE_MSG_STATUS = 14,
    TRACE_MSG_NARROW_OK = 20,
    TRACE_MSG_NARROW_FAILED = 21,
    TRACE_MSG_VALUE = 22,
};

// {5C8F2A58-369A-44F0-9235-C05ECB1DD73E}
extern const GUID TRACE_CONTROL_GUID;

enum class TraceArgKind { Wide, Narrow, Int };

// One argument of an event: its bytes and their count.
struct TraceArg {
    const void *pData;
    ULONG cbData;
    TraceArgKind kind;
};

TraceArg TraceArgWide(const wchar_t *pwszText);
TraceArg TraceArgNarrow(const char *pszText);
TraceArg TraceArgInt(const LONG &nValue);

// Registers the provider (looking up TraceMessage in advapi32) and applies
// the boot-time "GlobalLogger" settings; Unregister undoes it.
void TraceRegisterProvider();
void TraceUnregisterProvider();

// True when the provider is enabled and the flag is set in its flag word.
bool TraceIsEnabled(ULONG ulFlag);

// Sends one event of the message set named by pszSet when TraceIsEnabled;
// never fails the caller and never changes the thread's last error.
void TraceSendEvent(const char *pszSet, USHORT usNumber, ULONG ulFlag, const TraceArg *pArgs, size_t nArgs);
