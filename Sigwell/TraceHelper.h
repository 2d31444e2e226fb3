// Scope tracing and the step, failure and status lines of the
// browser-facing deliverables.
#pragma once

#include "TraceProvider.h"

// Placed at the top of a function: sends the entry event when constructed
// and the exit event when destroyed, leaving the thread's last error alone.
class TraceHelper {
public:
    explicit TraceHelper(const wchar_t *pwszFunction);
    virtual ~TraceHelper();

    TraceHelper(const TraceHelper &) = delete;
    TraceHelper &operator=(const TraceHelper &) = delete;

private:
    const wchar_t *m_pwszFunction;
};

// Capacity of a step or failure line, terminator included.
const size_t TRACE_LINE_CCH = 512;

// Entry and exit events for functions that send them inline.
void TraceFunctionEntry(const wchar_t *pwszFunction);
void TraceFunctionExit(const wchar_t *pwszFunction);

// A status with its text: event 13 under 0x02 when below zero, else event
// 14 under 0x04.
void TraceStatus(const wchar_t *pwszText, LONG nStatus);

// "%ws - %ws" as event 14 with status 0.
void TraceStepOK(const wchar_t *pwszFunction, const wchar_t *pwszStep);

// "[%ws(%d):] %ws - %ws [Reason:%ws]" reported with its status.
void TraceStepFailed(const char *pszSourcePath, int nLine, const wchar_t *pwszFunction, const wchar_t *pwszStep,
                     const wchar_t *pwszReason, LONG nStatus);

// Error report without a status (flag 0x01), e.g. a bad argument.
void TraceErrorReport(const wchar_t *pwszFunction, const wchar_t *pwszText);

// A named input value under 0x04.
void TraceValue(const wchar_t *pwszName, const wchar_t *pwszValue);
void TraceValueInt(const wchar_t *pwszName, LONG nValue);

// The host's narrow lines: "[%s(%d)]:(%s -- %s)\t\t--OK\n" under 0x04 and
// "[%s(%d):](%s -- %s)\t\t--Failed:(0x%08x) [Reason:%s]\n" under 0x01.
void TraceNarrowOK(const char *pszSourcePath, int nLine, const char *pszFunction, const char *pszStep);
void TraceNarrowFailed(const char *pszSourcePath, int nLine, const char *pszFunction, const char *pszStep, LONG nStatus,
                       const char *pszReason);
void TraceNarrowValue(const char *pszSourcePath, const char *pszName, const char *pszValue);

// Source file name without directory and extension, as trace lines show it.
void TraceSourceName(const char *pszSourcePath, char *pszName, size_t cchName);

#define TRACE_FUNCTION(name)                                                                                           \
    static const wchar_t *const kTraceFunction = name;                                                                 \
    TraceHelper traceHelper_(kTraceFunction)

#define TRACE_OK(step) TraceStepOK(kTraceFunction, step)
#define TRACE_FAILED(step, reason, status) TraceStepFailed(__FILE__, __LINE__, kTraceFunction, step, reason, status)

// A failed status traced as the step's failure and returned from the caller.
#define TRACE_RETURN_IF_FAILED(step, hResult)                                                                          \
    do {                                                                                                               \
        if (FAILED(hResult)) {                                                                                         \
            TRACE_FAILED(step, L"FAILED(hResult)", hResult);                                                           \
            return hResult;                                                                                            \
        }                                                                                                              \
    } while (0)

#define TRACE_A_OK(step) TraceNarrowOK(__FILE__, __LINE__, __func__, step)
#define TRACE_A_FAILED(step, status, reason) TraceNarrowFailed(__FILE__, __LINE__, __func__, step, status, reason)
#define TRACE_A_VALUE(name, value) TraceNarrowValue(__FILE__, name, value)
