#include "nmMessageSigning.h"

#include "AgentOperations.h"
#include "CryptoAgent.h"
#include "ErrorCode.h"
#include "IOStream.h"
#include "JSONUtility.h"
#include "SigwellHost.h"
#include "TextConversion.h"
#include "TraceHelper.h"

#include <cstring>
#include <cwchar>
#include <vector>

namespace {

// The buffers one handler takes from its parameters and gives back,
// freed when the handler returns.
class HandlerTexts {
public:
    HandlerTexts() = default;
    HandlerTexts(const HandlerTexts &) = delete;
    HandlerTexts &operator=(const HandlerTexts &) = delete;
    ~HandlerTexts()
    {
        for (char *psz : m_vtrUTF8) delete[] psz;
        for (wchar_t *pwsz : m_vtrUTF16) delete[] pwsz;
    }

    void Keep(char *psz) { m_vtrUTF8.push_back(psz); }
    void Keep(wchar_t *pwsz) { m_vtrUTF16.push_back(pwsz); }

private:
    std::vector<char *> m_vtrUTF8;
    std::vector<wchar_t *> m_vtrUTF16;
};

void FormatStep(wchar_t *pwszStep, size_t cchStep, const wchar_t *pwszAction, const wchar_t *pwszName)
{
    swprintf(pwszStep, cchStep, L"%ls(%ls)", pwszAction, pwszName);
}

// A step's status as the answer's error code: failures as they are, any
// other status counts as success.
int StepResult(const wchar_t *pwszFunction, const wchar_t *pwszStep, HRESULT hResult)
{
    if (FAILED(hResult)) {
        TraceStepFailed(__FILE__, __LINE__, pwszFunction, pwszStep, L"FAILED(hResult)", hResult);
        return hResult;
    }
    TraceStepOK(pwszFunction, pwszStep);
    return 0;
}

// An item reader's status, traced as the system error it stands for.
int ItemResult(const wchar_t *pwszFunction, const wchar_t *pwszStep, int nResult)
{
    if (nResult != 0)
        TraceStepFailed(__FILE__, __LINE__, pwszFunction, pwszStep, L"VESK_OK != nResult",
                        StatusFromLastError(static_cast<DWORD>(nResult)));
    else
        TraceStepOK(pwszFunction, pwszStep);
    return nResult;
}

// A parameter check, failing with E_INVALIDARG in the trace.
bool CheckStep(const wchar_t *pwszFunction, const wchar_t *pwszStep, bool bPassed, const wchar_t *pwszReason)
{
    if (!bPassed) {
        TraceStepFailed(__FILE__, __LINE__, pwszFunction, pwszStep, pwszReason, E_INVALIDARG);
        return false;
    }
    TraceStepOK(pwszFunction, pwszStep);
    return true;
}

// Parameter value present, agent present, and exactly nExpected children;
// otherwise nBadCode. The checks log E_INVALIDARG whatever code the answer
// carries.
int CheckArgs(const wchar_t *pwszFunction, const cJSON *pArgs, const wchar_t *pwszArgsReason,
              CCryptoAgent *pobjCryptoAgent, int nExpected, const wchar_t *pwszCountReason, int nBadCode)
{
    if (!CheckStep(pwszFunction, L"Check parameter(pArgs)", pArgs != nullptr, pwszArgsReason) ||
        !CheckStep(pwszFunction, L"Check parameter(pobjCryptoAgent)", pobjCryptoAgent != nullptr,
                   L"NULL == pobjCryptoAgent") ||
        !CheckStep(pwszFunction, L"Check parameter(Args count)", cJSON_GetArraySize(pArgs) == nExpected,
                   pwszCountReason))
        return nBadCode;
    return 0;
}

// The string parameter at nIndex as UTF-16, kept in the call's arguments
// with the bytes it arrived as: 0, the item reader's status unchanged, or
// the conversion's failure.
int ReadTextParam(const wchar_t *pwszFunction, const cJSON *pArgs, int nIndex, const wchar_t *pwszName,
                  HandlerTexts &texts, OperationArgs &args)
{
    wchar_t wszStep[128];
    FormatStep(wszStep, 128, L"ConverJSONArrayItemtoNULLEndString", pwszName);
    char *pszUTF8 = nullptr;
    int nResult = ConverJSONArrayItemtoNULLEndString(nIndex, pArgs, &pszUTF8);
    texts.Keep(pszUTF8);
    if (ItemResult(pwszFunction, wszStep, nResult) != 0) return nResult;

    FormatStep(wszStep, 128, L"UTF8ToUTF16", pwszName);
    wchar_t *pwszText = nullptr;
    int cchText = 0;
    HRESULT hResult = UTF8ToUTF16(pszUTF8, &pwszText, &cchText);
    texts.Keep(pwszText);
    nResult = StepResult(pwszFunction, wszStep, hResult);
    if (nResult != 0) return nResult;
    TraceValue(pwszName, pwszText);
    args.apwszText[nIndex] = pwszText;
    args.apszReceived[nIndex] = pszUTF8;
    args.acbReceived[nIndex] = strlen(pszUTF8);
    return 0;
}

// The agent's BSTR as UTF-8; no string at all is E_POINTER.
int ResultToUTF8(const wchar_t *pwszFunction, const wchar_t *pwszStep, BSTR bstrResult, HandlerTexts &texts,
                 char **ppszUTF8)
{
    TraceValue(pwszStep, bstrResult);
    char *pszUTF8 = nullptr;
    int cbUTF8 = 0;
    HRESULT hResult = UTF16ToUTF8(bstrResult, &pszUTF8, &cbUTF8);
    texts.Keep(pszUTF8);
    const int nResult = StepResult(pwszFunction, pwszStep, hResult);
    if (nResult == 0) *ppszUTF8 = pszUTF8;
    return nResult;
}

// The answer object; when it cannot be built there is none and the caller
// sends the fallback text.
void Answer(cJSON **ppResponseJSON, const char *pszFuncName, int nErrorCode, int nValueKind, const void *pValue)
{
    if (nValueKind == JSON_VALUE_STRING && pValue != nullptr)
        TRACE_A_VALUE(pszFuncName, static_cast<const char *>(pValue));
    ConstructResponseJSON(ppResponseJSON, pszFuncName, nErrorCode, nValueKind, nErrorCode == 0 ? pValue : nullptr);
}

// The Boolean parameter at nIndex; the step names the parameter.
int ReadBoolParam(const wchar_t *pwszFunction, const cJSON *pArgs, int nIndex, const wchar_t *pwszStep, bool *pbValue)
{
    return ItemResult(pwszFunction, pwszStep, ConverJSONArrayItemtobool(pArgs, nIndex, pbValue));
}

// The host's words for one operation of the agent.
struct HostOperation {
    AgentOperationId id;
    const wchar_t *pwszFunction;
    const char *pszAnswerName;
    // Text parameters: the name in the item and conversion steps; the
    // Boolean: its whole step.
    const wchar_t *apwszParams[MAX_OPERATION_PARAMS];
    const wchar_t *pwszArgsReason;
    const wchar_t *pwszCountReason;
    int nBadArgsCode;
    const wchar_t *pwszAgentStep;
    const wchar_t *pwszResultStep;
    bool bEveryFailureIsMinusOne;
};

const HostOperation kHostOperations[AGENT_OPERATION_COUNT] = {
    {OP_SELECT_CERTIFICATE,
     L"nmSelectCertificate",
     "SelectCertificate",
     {L"SubjectDNFilter", L"IssuerDNFilter", L"SNFilter", L"CSPFilter"},
     L"NULL == pArgs",
     L"4 != nArgsCount",
     -1,
     L"pobjCryptoAgent->SelectCertificate",
     nullptr,
     false},
    {OP_GET_SIGN_CERT_INFO,
     L"nmGetSignCertInfo",
     "GetSignCertInfo",
     {L"pszUTF8InfoType"},
     L"NULL == pArgs",
     L"1 != nArgsCount",
     -1,
     L"GetSignCertInfo",
     L"UTF16ToUTF8(bstrInfoContent)",
     false},
    {OP_SIGN_MSG_PKCS1,
     L"nmSignMsgPKCS1",
     "SignMsgPKCS1",
     {L"pszUTF8SrcData", L"pszUTF8HashAlg"},
     L"NULL == pArgs",
     L"2 != nArgsCount",
     -1,
     L"SignMsgPKCS1",
     L"UTF16ToUTF8(bstrSignature)",
     false},
    {OP_SIGN_MSG_PKCS7,
     L"nmSignMsgPKCS7",
     "SignMsgPKCS7",
     {L"pszUTF8SrcData", L"pszUTF8HashAlg", L"ConverJSONArrayItemtobool(bWithSrc)"},
     L"NULL == pArgs",
     L"3 != nArgsCount",
     -1,
     L"SignMsgPKCS7",
     L"UTF16ToUTF8(bstrSignature)",
     false},
    {OP_GET_VERSION,
     L"nmGetVersion",
     "GetVersion",
     {},
     L"NULL == pArgs",
     L"0 != nArgsCount",
     -1,
     nullptr,
     nullptr,
     false},
    {OP_GET_KEY_ID,
     L"nmGetKeyID",
     "GetKeyID",
     {L"pszUTF8CSPName"},
     L"NULL == pArgs",
     L"1 != nArgsCount",
     -1,
     L"GetKeyID",
     L"UTF16ToUTF8(bstrKeyID)",
     false},
    // An absent agent is refused like a bad parameter array instead of
    // being called.
    {OP_GET_MAC_ADDRESS,
     L"nmGetMACAddress",
     "GetMACAddress",
     {},
     L"NULL == pJSONArgs",
     L"0 != nArgsCount",
     E_INVALIDARG,
     L"pobjCryptoAgent->GetMACAddress",
     L"UTF16ToUTF8(MACAddress)",
     false},
    // Whatever failed, this request answers -1.
    {OP_GET_LAST_ERROR_DESC,
     L"nmGetLastErrorDesc",
     "GetLastErrorDesc",
     {},
     L"NULL == pArgs",
     L"0 != nArgsCount",
     -1,
     L"GetLastErrorDesc",
     L"UTF16ToUTF8(bstrErrorDesc)",
     true},
};

// The printed answer, or the fallback text without an answer object, as
// well-formed UTF-8: the request's own bytes (its function name, its
// randomId) come back in it, and a browser drops the port on an answer
// that is not UTF-8.
char *NewAnswerText(const char *pszFuncName, const char *pszRandomId, cJSON *pResponseJSON)
{
    char *pszAnswer = nullptr;
    ConvertJSONToResponseMsg(pszFuncName, pszRandomId, pResponseJSON, &pszAnswer);
    if (pszAnswer == nullptr) return nullptr;
    char *pszWellFormed = NewWellFormedUTF8(pszAnswer);
    delete[] pszAnswer;
    return pszWellFormed;
}

// Characters a text result may take for its answer to fit in one frame:
// the answer's own text around it (the name, the randomId) takes the rest.
// 0, no limit, when that text cannot be made.
size_t ResultRoom(const char *pszAnswerName, const char *pszRandomId)
{
    cJSON *pResponseJSON = nullptr;
    ConstructResponseJSON(&pResponseJSON, pszAnswerName, 0, JSON_VALUE_STRING, "");
    char *pszFrame = pResponseJSON != nullptr ? NewAnswerText(pszAnswerName, pszRandomId, pResponseJSON) : nullptr;
    cJSON_Delete(pResponseJSON);
    const size_t cchFrame = pszFrame != nullptr ? strlen(pszFrame) : 0;
    delete[] pszFrame;
    if (cchFrame == 0) return 0;
    return cchFrame < MAX_OUTPUT_MESSAGE_SIZE ? MAX_OUTPUT_MESSAGE_SIZE - cchFrame : 1;
}

// One request for an operation: its parameters from the JSON items, the
// agent's call, and the answer object.
int HandleOperation(const HostOperation &host, cJSON **ppResponseJSON, const cJSON *pArgs,
                    CCryptoAgent *pobjCryptoAgent, const char *pszRandomId)
{
    const wchar_t *const kTraceFunction = host.pwszFunction;
    TraceHelper traceHelper_(kTraceFunction);
    const AgentOperation &operation = AGENT_OPERATIONS[host.id];
    const int nParams = static_cast<int>(operation.nParams);
    HandlerTexts texts;
    OperationArgs args;
    int nErrorCode = CheckArgs(kTraceFunction, pArgs, host.pwszArgsReason, pobjCryptoAgent, nParams,
                               host.pwszCountReason, host.nBadArgsCode);
    for (int i = 0; i < nParams && nErrorCode == 0; ++i) {
        if (operation.aKinds[i] == ParamKind::Text)
            nErrorCode = ReadTextParam(kTraceFunction, pArgs, i, host.apwszParams[i], texts, args);
        else
            nErrorCode = ReadBoolParam(kTraceFunction, pArgs, i, host.apwszParams[i], &args.bFlag);
    }
    // A refused request is what the next GetLastErrorDesc describes.
    if (nErrorCode != 0 && pobjCryptoAgent != nullptr) pobjCryptoAgent->RecordStatus(nErrorCode);

    OperationResult result;
    if (nErrorCode == 0 && operation.pfnCall != nullptr) {
        if (operation.pfnResultLength != nullptr) args.cchResultRoom = ResultRoom(host.pszAnswerName, pszRandomId);
        nErrorCode =
            StepResult(kTraceFunction, host.pwszAgentStep, RunAgentOperation(*pobjCryptoAgent, host.id, args, result));
    }

    switch (operation.result) {
    case ResultKind::Selection: {
        const unsigned char byResult = result.bSelected == VARIANT_TRUE ? 1 : 0;
        Answer(ppResponseJSON, host.pszAnswerName, nErrorCode, byResult ? JSON_VALUE_TRUE : JSON_VALUE_FALSE,
               &byResult);
        break;
    }
    case ResultKind::Version:
        Answer(ppResponseJSON, host.pszAnswerName, nErrorCode, JSON_VALUE_STRING, AGENT_VERSION_TEXT);
        break;
    case ResultKind::Text: {
        char *pszUTF8 = nullptr;
        if (nErrorCode == 0)
            nErrorCode = ResultToUTF8(kTraceFunction, host.pwszResultStep, result.bstrText, texts, &pszUTF8);
        if (host.bEveryFailureIsMinusOne && nErrorCode != 0) nErrorCode = -1;
        Answer(ppResponseJSON, host.pszAnswerName, nErrorCode, JSON_VALUE_STRING, pszUTF8);
        break;
    }
    }
    return 0;
}

} // namespace

int nmCheckHost(cJSON **ppResponseJSON)
{
    TRACE_FUNCTION(L"nmCheckHost");
    const int nZero = 0;
    Answer(ppResponseJSON, "CheckHost", 0, JSON_VALUE_INT, &nZero);
    return 0;
}

int Invoke(cJSON **ppResponseJSON, const char *pszFuncName, const cJSON *pArgs, const char *pszRandomId)
{
    TRACE_FUNCTION(L"Invoke");
    if (pszFuncName != nullptr) {
        // Tried in the table's order, checkHost last.
        for (const HostOperation &host : kHostOperations)
            if (_stricmp(pszFuncName, AGENT_OPERATIONS[host.id].pszName) == 0)
                return HandleOperation(host, ppResponseJSON, pArgs, g_pobjCryptoAgent, pszRandomId);
        if (_stricmp(pszFuncName, "checkHost") == 0) return nmCheckHost(ppResponseJSON);
    }
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
        nResult = Invoke(&pResponseJSON, pszFuncName, pArgs, pszRandomId);
        TraceValueInt(L"Invoke", nResult);
    }
    char *pszAnswer = NewAnswerText(pszFuncName, pszRandomId, pResponseJSON);
    if (ppszAnswer != nullptr)
        *ppszAnswer = pszAnswer;
    else
        delete[] pszAnswer;

    delete[] pszFuncName;
    delete[] pszRandomId;
    cJSON_Delete(pArgs);
    cJSON_Delete(pResponseJSON);
    return 0;
}
