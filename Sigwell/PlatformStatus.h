// The status of a failed platform call, traced with its step.
#pragma once

#include "ErrorCode.h"
#include "TraceHelper.h"

#include <windows.h>

// A call that failed without leaving a last error still failed: it must
// never come back as success.
inline HRESULT FailedCallStatus()
{
    HRESULT hResult = Win32StatusFromLastError(GetLastError());
    return SUCCEEDED(hResult) ? E_FAIL : hResult;
}

inline HRESULT ReportFailedCall(const wchar_t *pwszStep)
{
    HRESULT hResult = FailedCallStatus();
    TraceStatus(pwszStep, hResult);
    return hResult;
}

inline HRESULT ReportStatus(const wchar_t *pwszStep, HRESULT hResult)
{
    TraceStatus(pwszStep, hResult);
    return hResult;
}
