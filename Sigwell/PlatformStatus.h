// The status of a failed platform call, traced with its step.
#pragma once

#include "ErrorCode.h"
#include "TraceHelper.h"

#include <windows.h>

// Which conversion of the last error applies: the agent's operations also
// carry own codes (0x2000xxxx) back as 0xA007xxxx; the utility functions
// take every positive last error as a Win32 code.
enum class LastErrorKind { Win32, WithOwnCodes };

// A call that failed without leaving a last error still failed: it must
// never come back as success.
inline HRESULT FailedCallStatus(LastErrorKind kind = LastErrorKind::Win32)
{
    const DWORD dwLastError = GetLastError();
    const HRESULT hResult =
        kind == LastErrorKind::WithOwnCodes ? StatusFromLastError(dwLastError) : Win32StatusFromLastError(dwLastError);
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
