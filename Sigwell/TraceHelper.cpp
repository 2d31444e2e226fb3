#include "TraceHelper.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

const char kCommonSet[] = "TraceHelper";

// Formats into a fixed line, truncating what does not fit: trace lines
// carry caller data of any length.
void FormatLineW(wchar_t *pwszLine, size_t cchLine, const wchar_t *pwszFormat, ...)
{
    va_list args;
    va_start(args, pwszFormat);
    int n = vswprintf(pwszLine, cchLine, pwszFormat, args);
    va_end(args);
    if (n < 0) pwszLine[cchLine - 1] = L'\0';
}

void FormatLineA(char *pszLine, size_t cchLine, const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(pszLine, cchLine, pszFormat, args);
    va_end(args);
}

const wchar_t *OrNull(const wchar_t *pwsz)
{
    return pwsz ? pwsz : L"NULL";
}

const char *OrNull(const char *psz)
{
    return psz ? psz : "NULL";
}

void SendFunctionEvent(USHORT usNumber, const wchar_t *pwszFunction)
{
    if (!TraceIsEnabled(TRACE_FLAG_FUNCTION)) return;
    TraceArg arg = TraceArgWide(pwszFunction);
    TraceSendEvent(kCommonSet, usNumber, TRACE_FLAG_FUNCTION, &arg, 1);
}

} // namespace

TraceHelper::TraceHelper(const wchar_t *pwszFunction) : m_pwszFunction(pwszFunction)
{
    TraceFunctionEntry(m_pwszFunction);
}

TraceHelper::~TraceHelper()
{
    TraceFunctionExit(m_pwszFunction);
}

void TraceFunctionEntry(const wchar_t *pwszFunction)
{
    SendFunctionEvent(TRACE_MSG_ENTRY, pwszFunction);
}

void TraceFunctionExit(const wchar_t *pwszFunction)
{
    SendFunctionEvent(TRACE_MSG_EXIT, pwszFunction);
}

void TraceStatus(const wchar_t *pwszText, LONG nStatus)
{
    bool bFailed = nStatus < 0;
    ULONG ulFlag = bFailed ? TRACE_FLAG_FAILED : TRACE_FLAG_INFO;
    if (!TraceIsEnabled(ulFlag)) return;
    TraceArg args[] = {TraceArgWide(pwszText), TraceArgInt(nStatus)};
    TraceSendEvent(kCommonSet, bFailed ? TRACE_MSG_FAILED_STATUS : TRACE_MSG_STATUS, ulFlag, args, 2);
}

void TraceStepOK(const wchar_t *pwszFunction, const wchar_t *pwszStep)
{
    DWORD dwLastError = GetLastError();
    wchar_t wszLine[TRACE_LINE_CCH] = {};
    FormatLineW(wszLine, TRACE_LINE_CCH, L"%ls - %ls", OrNull(pwszFunction), OrNull(pwszStep));
    TraceStatus(wszLine, 0);
    SetLastError(dwLastError);
}

void TraceStepFailed(const char *pszSourcePath, int nLine, const wchar_t *pwszFunction, const wchar_t *pwszStep,
                     const wchar_t *pwszReason, LONG nStatus)
{
    DWORD dwLastError = GetLastError();
    char szSource[MAX_PATH];
    TraceSourceName(pszSourcePath, szSource, sizeof(szSource));
    wchar_t wszLine[TRACE_LINE_CCH] = {};
    FormatLineW(wszLine, TRACE_LINE_CCH, L"[%hs(%d):] %ls - %ls [Reason:%ls]", szSource, nLine, OrNull(pwszFunction),
                OrNull(pwszStep), OrNull(pwszReason));
    TraceStatus(wszLine, nStatus);
    SetLastError(dwLastError);
}

void TraceErrorReport(const wchar_t *pwszFunction, const wchar_t *pwszText)
{
    if (!TraceIsEnabled(TRACE_FLAG_ERROR)) return;
    TraceArg args[] = {TraceArgWide(pwszFunction), TraceArgWide(pwszText)};
    TraceSendEvent(kCommonSet, TRACE_MSG_ERROR_REPORT, TRACE_FLAG_ERROR, args, 2);
}

void TraceValue(const wchar_t *pwszName, const wchar_t *pwszValue)
{
    if (!TraceIsEnabled(TRACE_FLAG_INFO)) return;
    TraceArg args[] = {TraceArgWide(pwszName), TraceArgWide(pwszValue)};
    TraceSendEvent(kCommonSet, TRACE_MSG_VALUE, TRACE_FLAG_INFO, args, 2);
}

void TraceValueInt(const wchar_t *pwszName, LONG nValue)
{
    if (!TraceIsEnabled(TRACE_FLAG_INFO)) return;
    TraceArg args[] = {TraceArgWide(pwszName), TraceArgInt(nValue)};
    TraceSendEvent(kCommonSet, TRACE_MSG_VALUE, TRACE_FLAG_INFO, args, 2);
}

void TraceNarrowOK(const char *pszSourcePath, int nLine, const char *pszFunction, const char *pszStep)
{
    if (!TraceIsEnabled(TRACE_FLAG_INFO)) return;
    DWORD dwLastError = GetLastError();
    char szSource[MAX_PATH];
    TraceSourceName(pszSourcePath, szSource, sizeof(szSource));
    char szLine[TRACE_LINE_CCH];
    FormatLineA(szLine, sizeof(szLine), "[%s(%d)]:(%s -- %s)\t\t--OK\n", szSource, nLine, OrNull(pszFunction),
                OrNull(pszStep));
    TraceArg arg = TraceArgNarrow(szLine);
    TraceSendEvent(szSource, TRACE_MSG_NARROW_OK, TRACE_FLAG_INFO, &arg, 1);
    SetLastError(dwLastError);
}

void TraceNarrowFailed(const char *pszSourcePath, int nLine, const char *pszFunction, const char *pszStep, LONG nStatus,
                       const char *pszReason)
{
    if (!TraceIsEnabled(TRACE_FLAG_ERROR)) return;
    DWORD dwLastError = GetLastError();
    char szSource[MAX_PATH];
    TraceSourceName(pszSourcePath, szSource, sizeof(szSource));
    char szLine[TRACE_LINE_CCH];
    FormatLineA(szLine, sizeof(szLine), "[%s(%d):](%s -- %s)\t\t--Failed:(0x%08lx) [Reason:%s]\n", szSource, nLine,
                OrNull(pszFunction), OrNull(pszStep), static_cast<unsigned long>(nStatus), OrNull(pszReason));
    TraceArg arg = TraceArgNarrow(szLine);
    TraceSendEvent(szSource, TRACE_MSG_NARROW_FAILED, TRACE_FLAG_ERROR, &arg, 1);
    SetLastError(dwLastError);
}

void TraceNarrowValue(const char *pszSourcePath, const char *pszName, const char *pszValue)
{
    if (!TraceIsEnabled(TRACE_FLAG_INFO)) return;
    DWORD dwLastError = GetLastError();
    char szSource[MAX_PATH];
    TraceSourceName(pszSourcePath, szSource, sizeof(szSource));
    TraceArg args[] = {TraceArgNarrow(pszName), TraceArgNarrow(pszValue)};
    TraceSendEvent(szSource, TRACE_MSG_VALUE, TRACE_FLAG_INFO, args, 2);
    SetLastError(dwLastError);
}

void TraceSourceName(const char *pszSourcePath, char *pszName, size_t cchName)
{
    const char *pszBase = pszSourcePath ? pszSourcePath : "";
    for (const char *p = pszBase; *p; ++p)
        if (*p == '/' || *p == '\\') pszBase = p + 1;
    size_t cch = strlen(pszBase);
    const char *pszDot = strrchr(pszBase, '.');
    if (pszDot != nullptr) cch = static_cast<size_t>(pszDot - pszBase);
    if (cch >= cchName) cch = cchName - 1;
    memcpy(pszName, pszBase, cch);
    pszName[cch] = '\0';
}
