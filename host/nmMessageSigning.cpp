#include "nmMessageSigning.h"

#include "CryptoAgent.h"
#include "ErrorCode.h"
#include "JSONUtility.h"
#include "SigwellHost.h"
#include "TextConversion.h"
#include "TraceHelper.h"

#include <cstring>
#include <cwchar>
#include <vector>

namespace {

const char kVersionText[] = "3.4.0.6";

// The buffers one handler takes from its parameters and gives back,
// freed when the handler returns.
class HandlerTexts {
public:
    HandlerTexts() = default;
    HandlerTexts(const HandlerTexts &) = delete;
    HandlerTexts &operator=(const HandlerTexts &) = delete;
    ~HandlerTexts()
    {
        for (char *psz : m_vtrUTF8)
            delete[] psz;
        for (wchar_t *pwsz : m_vtrUTF16)
            delete[] pwsz;
        SysFreeString(m_bstrResult);
    }

    void Keep(char *psz) { m_vtrUTF8.push_back(psz); }
    void Keep(wchar_t *pwsz) { m_vtrUTF16.push_back(pwsz); }
    BSTR *Result() { return &m_bstrResult; }

private:
    std::vector<char *> m_vtrUTF8;
    std::vector<wchar_t *> m_vtrUTF16;
    BSTR m_bstrResult = nullptr;
};

void FormatStep(wchar_t *pwszStep, size_t cchStep, const wchar_t *pwszAction,
                const wchar_t *pwszName)
{
    swprintf(pwszStep, cchStep, L"%ls(%ls)", pwszAction, pwszName);
}

// Parameter value present, agent present, and exactly nExpected children;
// otherwise nBadCode. The checks log E_INVALIDARG whatever code the answer
// carries.
int CheckArgs(const wchar_t *pwszFunction, const cJSON *pArgs, const wchar_t *pwszArgsReason,
              CCryptoAgent *pobjCryptoAgent, int nExpected, const wchar_t *pwszCountReason,
              int nBadCode)
{
    if (pArgs == nullptr) {
        TraceStepFailed(__FILE__, __LINE__, pwszFunction, L"Check parameter(pArgs)",
                        pwszArgsReason, E_INVALIDARG);
        return nBadCode;
    }
    TraceStepOK(pwszFunction, L"Check parameter(pArgs)");
    if (pobjCryptoAgent == nullptr) {
        TraceStepFailed(__FILE__, __LINE__, pwszFunction, L"Check parameter(pobjCryptoAgent)",
                        L"NULL == pobjCryptoAgent", E_INVALIDARG);
        return nBadCode;
    }
    TraceStepOK(pwszFunction, L"Check parameter(pobjCryptoAgent)");
    if (cJSON_GetArraySize(pArgs) != nExpected) {
        TraceStepFailed(__FILE__, __LINE__, pwszFunction, L"Check parameter(Args count)",
                        pwszCountReason, E_INVALIDARG);
        return nBadCode;
    }
    TraceStepOK(pwszFunction, L"Check parameter(Args count)");
    return 0;
}

// The string parameter at nIndex as UTF-16: 0, the item reader's status
// unchanged, or the conversion's failure.
int ReadTextParam(const wchar_t *pwszFunction, const cJSON *pArgs, int nIndex,
                  const wchar_t *pwszName, HandlerTexts &texts, wchar_t **ppwszText)
{
    wchar_t wszStep[128];
    FormatStep(wszStep, 128, L"ConverJSONArrayItemtoNULLEndString", pwszName);
    char *pszUTF8 = nullptr;
    int nResult = ConverJSONArrayItemtoNULLEndString(nIndex, pArgs, &pszUTF8);
    texts.Keep(pszUTF8);
    if (nResult != 0) {
        TraceStepFailed(__FILE__, __LINE__, pwszFunction, wszStep, L"VESK_OK != nResult",
                        StatusFromLastError(static_cast<DWORD>(nResult)));
        return nResult;
    }
    TraceStepOK(pwszFunction, wszStep);

    FormatStep(wszStep, 128, L"UTF8ToUTF16", pwszName);
    wchar_t *pwszText = nullptr;
    int cchText = 0;
    HRESULT hResult = UTF8ToUTF16(pszUTF8, &pwszText, &cchText);
    texts.Keep(pwszText);
    if (FAILED(hResult)) {
        TraceStepFailed(__FILE__, __LINE__, pwszFunction, wszStep, L"FAILED(hResult)", hResult);
        return hResult;
    }
    TraceStepOK(pwszFunction, wszStep);
    TraceValue(pwszName, pwszText);
    *ppwszText = pwszText;
    return 0;
}

// An agent call's status as the answer's error code: failures as they
// are, any other status counts as success.
int AgentResult(const wchar_t *pwszFunction, const wchar_t *pwszStep, HRESULT hResult)
{
    if (FAILED(hResult)) {
        TraceStepFailed(__FILE__, __LINE__, pwszFunction, pwszStep, L"FAILED(hResult)", hResult);
        return hResult;
    }
    TraceStepOK(pwszFunction, pwszStep);
    return 0;
}

// The agent's BSTR as UTF-8; no string at all is E_POINTER.
int ResultToUTF8(const wchar_t *pwszFunction, const wchar_t *pwszStep, HandlerTexts &texts,
                 char **ppszUTF8)
{
    TraceValue(pwszStep, *texts.Result());
    char *pszUTF8 = nullptr;
    int cbUTF8 = 0;
    HRESULT hResult = UTF16ToUTF8(*texts.Result(), &pszUTF8, &cbUTF8);
    texts.Keep(pszUTF8);
    if (FAILED(hResult)) {
        TraceStepFailed(__FILE__, __LINE__, pwszFunction, pwszStep, L"FAILED(hResult)", hResult);
        return hResult;
    }
    TraceStepOK(pwszFunction, pwszStep);
    *ppszUTF8 = pszUTF8;
    return 0;
}

// The answer object; when it cannot be built there is none and the caller
// sends the fallback text.
void Answer(cJSON **ppResponseJSON, const char *pszFuncName, int nErrorCode, int nValueKind,
            const void *pValue)
{
    if (nValueKind == JSON_VALUE_STRING && pValue != nullptr)
        TRACE_A_VALUE(pszFuncName, static_cast<const char *>(pValue));
    ConstructResponseJSON(ppResponseJSON, pszFuncName, nErrorCode, nValueKind,
                          nErrorCode == 0 ? pValue : nullptr);
}

// Answers the agent's result text, or the error code when a step before
// failed.
void AnswerAgentText(cJSON **ppResponseJSON, const char *pszFuncName,
                     const wchar_t *pwszFunction, const wchar_t *pwszConversionStep,
                     int nErrorCode, HandlerTexts &texts)
{
    char *pszUTF8 = nullptr;
    if (nErrorCode == 0)
        nErrorCode = ResultToUTF8(pwszFunction, pwszConversionStep, texts, &pszUTF8);
    Answer(ppResponseJSON, pszFuncName, nErrorCode, JSON_VALUE_STRING, pszUTF8);
}

int CheckHostEntry(cJSON **ppResponseJSON, const cJSON *, CCryptoAgent *)
{
    return nmCheckHost(ppResponseJSON);
}

struct REQUEST_HANDLER_ENTRY {
    const char *pszName;
    PFN_REQUEST_HANDLER pfnHandler;
};

// Tried in this order.
const REQUEST_HANDLER_ENTRY kRequestHandlers[] = {
    {"SelectCertificate", nmSelectCertificate},
    {"GetSignCertInfo", nmGetSignCertInfo},
    {"SignMsgPKCS1", nmSignMsgPKCS1},
    {"SignMsgPKCS7", nmSignMsgPKCS7},
    {"GetVersion", nmGetVersion},
    {"GetKeyID", nmGetKeyID},
    {"GetMACAddress", nmGetMACAddress},
    {"GetLastErrorDesc", nmGetLastErrorDesc},
    {"checkHost", CheckHostEntry},
};

} // namespace

int nmSelectCertificate(cJSON **ppResponseJSON, const cJSON *pArgs,
                        CCryptoAgent *pobjCryptoAgent)
{
    TRACE_FUNCTION(L"nmSelectCertificate");
    static const wchar_t *const kFilterNames[] = {L"SubjectDNFilter", L"IssuerDNFilter",
                                                  L"SNFilter", L"CSPFilter"};
    HandlerTexts texts;
    wchar_t *apwszFilters[4] = {};
    int nErrorCode = CheckArgs(kTraceFunction, pArgs, L"NULL == pArgs", pobjCryptoAgent, 4,
                               L"4 != nArgsCount", -1);
    for (int i = 0; i < 4 && nErrorCode == 0; ++i)
        nErrorCode =
            ReadTextParam(kTraceFunction, pArgs, i, kFilterNames[i], texts, &apwszFilters[i]);

    VARIANT_BOOL bSelected = VARIANT_FALSE;
    if (nErrorCode == 0)
        nErrorCode = AgentResult(kTraceFunction, L"pobjCryptoAgent->SelectCertificate",
                                 pobjCryptoAgent->SelectCertificate(
                                     apwszFilters[0], apwszFilters[1], apwszFilters[2],
                                     apwszFilters[3], &bSelected));

    const unsigned char byResult = bSelected == VARIANT_TRUE ? 1 : 0;
    Answer(ppResponseJSON, "SelectCertificate", nErrorCode,
           byResult ? JSON_VALUE_TRUE : JSON_VALUE_FALSE, &byResult);
    return 0;
}

int nmGetSignCertInfo(cJSON **ppResponseJSON, const cJSON *pArgs, CCryptoAgent *pobjCryptoAgent)
{
    TRACE_FUNCTION(L"nmGetSignCertInfo");
    HandlerTexts texts;
    wchar_t *pwszInfoType = nullptr;
    int nErrorCode = CheckArgs(kTraceFunction, pArgs, L"NULL == pArgs", pobjCryptoAgent, 1,
                               L"1 != nArgsCount", -1);
    if (nErrorCode == 0)
        nErrorCode =
            ReadTextParam(kTraceFunction, pArgs, 0, L"pszUTF8InfoType", texts, &pwszInfoType);
    if (nErrorCode == 0)
        nErrorCode = AgentResult(kTraceFunction, L"GetSignCertInfo",
                                 pobjCryptoAgent->GetSignCertInfo(pwszInfoType, texts.Result()));
    AnswerAgentText(ppResponseJSON, "GetSignCertInfo", kTraceFunction,
                    L"UTF16ToUTF8(bstrInfoContent)", nErrorCode, texts);
    return 0;
}

int nmSignMsgPKCS1(cJSON **ppResponseJSON, const cJSON *pArgs, CCryptoAgent *pobjCryptoAgent)
{
    TRACE_FUNCTION(L"nmSignMsgPKCS1");
    HandlerTexts texts;
    wchar_t *pwszSrcData = nullptr;
    wchar_t *pwszHashAlg = nullptr;
    int nErrorCode = CheckArgs(kTraceFunction, pArgs, L"NULL == pArgs", pobjCryptoAgent, 2,
                               L"2 != nArgsCount", -1);
    if (nErrorCode == 0)
        nErrorCode =
            ReadTextParam(kTraceFunction, pArgs, 0, L"pszUTF8SrcData", texts, &pwszSrcData);
    if (nErrorCode == 0)
        nErrorCode =
            ReadTextParam(kTraceFunction, pArgs, 1, L"pszUTF8HashAlg", texts, &pwszHashAlg);
    if (nErrorCode == 0)
        nErrorCode =
            AgentResult(kTraceFunction, L"SignMsgPKCS1",
                        pobjCryptoAgent->SignMsgPKCS1(pwszSrcData, pwszHashAlg, texts.Result()));
    AnswerAgentText(ppResponseJSON, "SignMsgPKCS1", kTraceFunction, L"UTF16ToUTF8(bstrSignature)",
                    nErrorCode, texts);
    return 0;
}

int nmSignMsgPKCS7(cJSON **ppResponseJSON, const cJSON *pArgs, CCryptoAgent *pobjCryptoAgent)
{
    TRACE_FUNCTION(L"nmSignMsgPKCS7");
    HandlerTexts texts;
    wchar_t *pwszSrcData = nullptr;
    wchar_t *pwszHashAlg = nullptr;
    bool bWithSrc = false;
    int nErrorCode = CheckArgs(kTraceFunction, pArgs, L"NULL == pArgs", pobjCryptoAgent, 3,
                               L"3 != nArgsCount", -1);
    if (nErrorCode == 0)
        nErrorCode =
            ReadTextParam(kTraceFunction, pArgs, 0, L"pszUTF8SrcData", texts, &pwszSrcData);
    if (nErrorCode == 0)
        nErrorCode =
            ReadTextParam(kTraceFunction, pArgs, 1, L"pszUTF8HashAlg", texts, &pwszHashAlg);
    if (nErrorCode == 0) {
        nErrorCode = ConverJSONArrayItemtobool(pArgs, 2, &bWithSrc);
        if (nErrorCode != 0)
            TRACE_FAILED(L"ConverJSONArrayItemtobool(bWithSrc)", L"VESK_OK != nResult",
                         StatusFromLastError(static_cast<DWORD>(nErrorCode)));
        else
            TRACE_OK(L"ConverJSONArrayItemtobool(bWithSrc)");
    }
    // The agent takes the automation Boolean: only VARIANT_TRUE attaches.
    if (nErrorCode == 0)
        nErrorCode = AgentResult(
            kTraceFunction, L"SignMsgPKCS7",
            pobjCryptoAgent->SignMsgPKCS7(pwszSrcData, pwszHashAlg,
                                          bWithSrc ? VARIANT_TRUE : VARIANT_FALSE,
                                          texts.Result()));
    AnswerAgentText(ppResponseJSON, "SignMsgPKCS7", kTraceFunction, L"UTF16ToUTF8(bstrSignature)",
                    nErrorCode, texts);
    return 0;
}

int nmGetVersion(cJSON **ppResponseJSON, const cJSON *pArgs, CCryptoAgent *pobjCryptoAgent)
{
    TRACE_FUNCTION(L"nmGetVersion");
    int nErrorCode = CheckArgs(kTraceFunction, pArgs, L"NULL == pArgs", pobjCryptoAgent, 0,
                               L"0 != nArgsCount", -1);
    Answer(ppResponseJSON, "GetVersion", nErrorCode, JSON_VALUE_STRING, kVersionText);
    return 0;
}

int nmGetKeyID(cJSON **ppResponseJSON, const cJSON *pArgs, CCryptoAgent *pobjCryptoAgent)
{
    TRACE_FUNCTION(L"nmGetKeyID");
    HandlerTexts texts;
    wchar_t *pwszCSPName = nullptr;
    int nErrorCode = CheckArgs(kTraceFunction, pArgs, L"NULL == pArgs", pobjCryptoAgent, 1,
                               L"1 != nArgsCount", -1);
    if (nErrorCode == 0)
        nErrorCode =
            ReadTextParam(kTraceFunction, pArgs, 0, L"pszUTF8CSPName", texts, &pwszCSPName);
    if (nErrorCode == 0)
        nErrorCode = AgentResult(kTraceFunction, L"GetKeyID",
                                 pobjCryptoAgent->GetKeyID(pwszCSPName, texts.Result()));
    AnswerAgentText(ppResponseJSON, "GetKeyID", kTraceFunction, L"UTF16ToUTF8(bstrKeyID)",
                    nErrorCode, texts);
    return 0;
}

int nmGetMACAddress(cJSON **ppResponseJSON, const cJSON *pArgs, CCryptoAgent *pobjCryptoAgent)
{
    TRACE_FUNCTION(L"nmGetMACAddress");
    HandlerTexts texts;
    // An absent agent is refused like a bad parameter array instead of
    // being called.
    int nErrorCode = CheckArgs(kTraceFunction, pArgs, L"NULL == pJSONArgs", pobjCryptoAgent, 0,
                               L"0 != nArgsCount", E_INVALIDARG);
    if (nErrorCode == 0)
        nErrorCode = AgentResult(kTraceFunction, L"pobjCryptoAgent->GetMACAddress",
                                 pobjCryptoAgent->GetMACAddress(texts.Result()));
    AnswerAgentText(ppResponseJSON, "GetMACAddress", kTraceFunction, L"UTF16ToUTF8(MACAddress)",
                    nErrorCode, texts);
    return 0;
}

int nmGetLastErrorDesc(cJSON **ppResponseJSON, const cJSON *pArgs,
                       CCryptoAgent *pobjCryptoAgent)
{
    TRACE_FUNCTION(L"nmGetLastErrorDesc");
    HandlerTexts texts;
    char *pszUTF8 = nullptr;
    int nErrorCode = CheckArgs(kTraceFunction, pArgs, L"NULL == pArgs", pobjCryptoAgent, 0,
                               L"0 != nArgsCount", -1);
    if (nErrorCode == 0)
        nErrorCode = AgentResult(kTraceFunction, L"GetLastErrorDesc",
                                 pobjCryptoAgent->GetLastErrorDesc(texts.Result()));
    if (nErrorCode == 0)
        nErrorCode =
            ResultToUTF8(kTraceFunction, L"UTF16ToUTF8(bstrErrorDesc)", texts, &pszUTF8);
    // Whatever failed, this request answers -1.
    Answer(ppResponseJSON, "GetLastErrorDesc", nErrorCode == 0 ? 0 : -1, JSON_VALUE_STRING,
           pszUTF8);
    return 0;
}

int nmCheckHost(cJSON **ppResponseJSON)
{
    TRACE_FUNCTION(L"nmCheckHost");
    const int nZero = 0;
    Answer(ppResponseJSON, "CheckHost", 0, JSON_VALUE_INT, &nZero);
    return 0;
}

int Invoke(cJSON **ppResponseJSON, const char *pszFuncName, const cJSON *pArgs)
{
    TRACE_FUNCTION(L"Invoke");
    if (pszFuncName != nullptr)
        for (const REQUEST_HANDLER_ENTRY &entry : kRequestHandlers)
            if (_stricmp(pszFuncName, entry.pszName) == 0)
                return entry.pfnHandler(ppResponseJSON, pArgs, g_pobjCryptoAgent);
    TRACE_A_FAILED("Invoke", -1, "no handler for the function");
    return -1;
}

int ParseAndRespondRequest(const char *pszRequest, char **ppszAnswer)
{
    TRACE_FUNCTION(L"ParseAndRespondRequest");
    char *pszFuncName = nullptr;
    char *pszRandomId = nullptr;
    cJSON *pArgs = nullptr;
    cJSON *pResponseJSON = nullptr;

    int nResult = ParseRequestMsgToJSON(pszRequest, &pszFuncName, &pArgs, &pszRandomId);
    if (nResult == 0) {
        nResult = Invoke(&pResponseJSON, pszFuncName, pArgs);
        TraceValueInt(L"Invoke", nResult);
    }
    ConvertJSONToResponseMsg(pszFuncName, pszRandomId, pResponseJSON, ppszAnswer);
    // The request's own bytes (its function name, its randomId) come back
    // in the answer; a browser drops the port on an answer that is not
    // UTF-8.
    if (ppszAnswer != nullptr && *ppszAnswer != nullptr) {
        char *pszWellFormed = NewWellFormedUTF8(*ppszAnswer);
        delete[] *ppszAnswer;
        *ppszAnswer = pszWellFormed;
    }

    delete[] pszFuncName;
    delete[] pszRandomId;
    cJSON_Delete(pArgs);
    cJSON_Delete(pResponseJSON);
    return 0;
}
