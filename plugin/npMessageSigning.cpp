// The script methods of the scriptable object: each checks its arguments,
// converts them for the agent, calls it and hands its answer to the page.
#include "AgentOperations.h"
#include "BrowserFuncs.h"
#include "ScriptablePluginObject.h"
#include "TextConversion.h"
#include "TraceHelper.h"

#include <cstdio>
#include <memory>
#include <string>

namespace {

typedef std::unique_ptr<wchar_t[]> WideText;
typedef std::unique_ptr<char[]> NarrowText;

std::wstring StepName(const wchar_t *pwszStep, const wchar_t *pwszArgument)
{
    std::wstring step = pwszStep;
    if (pwszArgument != nullptr) step.append(L" - ").append(pwszArgument);
    return step;
}

HRESULT StepStatus(const wchar_t *pwszMethod, const std::wstring &step, HRESULT hResult)
{
    if (FAILED(hResult))
        TraceStepFailed(__FILE__, __LINE__, pwszMethod, step.c_str(), L"FAILED(hResult)", hResult);
    else
        TraceStepOK(pwszMethod, step.c_str());
    return hResult;
}

// A string argument in UTF-16; the copy it is made from ends at the first
// NUL, which is why the runner checks it against the bytes the page sent.
// A null argument name leaves the step names bare.
HRESULT ArgumentText(const wchar_t *pwszMethod, const wchar_t *pwszArgument, const NPVariant &arg, WideText &text)
{
    char *pszCopy = nullptr;
    HRESULT hResult =
        ConverNPStringtoNULLEndString(&pszCopy, arg.value.stringValue.UTF8Characters, arg.value.stringValue.UTF8Length);
    NarrowText copy(pszCopy);
    hResult = StepStatus(pwszMethod, StepName(L"ConverNPStringtoNULLEndString", pwszArgument), hResult);
    if (FAILED(hResult)) return hResult;
    wchar_t *pwszText = nullptr;
    int cchText = 0;
    hResult = UTF8ToUTF16(copy.get(), &pwszText, &cchText);
    text.reset(pwszText);
    return StepStatus(pwszMethod, StepName(L"UTF8ToUTF16", pwszArgument), hResult);
}

// The agent's answer in UTF-8; fails when the agent gave none.
HRESULT AnswerText(const wchar_t *pwszMethod, const wchar_t *pwszStep, BSTR bstrAnswer, NarrowText &text)
{
    char *pszText = nullptr;
    int cbText = 0;
    HRESULT hResult = UTF16ToUTF8(bstrAnswer, &pszText, &cbText);
    text.reset(pszText);
    return StepStatus(pwszMethod, pwszStep, hResult);
}

HRESULT RefuseArguments(const wchar_t *pwszMethod, const wchar_t *pwszStep, const wchar_t *pwszReason)
{
    TraceStepFailed(__FILE__, __LINE__, pwszMethod, pwszStep, pwszReason, E_INVALIDARG);
    return E_INVALIDARG;
}

// An answer handed to the page. When the browser has no memory for it the
// method fails, and the page learns why from GetLastErrorDesc.
HRESULT SetPageResult(const wchar_t *pwszMethod, const char *pszText, NPVariant *result, CCryptoAgent &agent)
{
    if (SetStringResult(pszText, result)) {
        TraceStepOK(pwszMethod, L"Set result");
        return S_OK;
    }
    TraceStepFailed(__FILE__, __LINE__, pwszMethod, L"Set result", L"!SetStringResult", E_OUTOFMEMORY);
    agent.RecordStatus(E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
}

bool Finish(HRESULT hResult, NPVariant *result)
{
    if (FAILED(hResult)) {
        NULL_TO_NPVARIANT(*result);
        return false;
    }
    return true;
}

void TraceParameterInfo(const NPVariant *args, uint32_t argCount)
{
    TraceValueInt(L"argCount", static_cast<LONG>(argCount));
    for (uint32_t i = 0; i < argCount; ++i) {
        const NPVariant &arg = args[i];
        TraceValueInt(L"Type", arg.type);
        switch (arg.type) {
        case NPVariantType_Bool:
            TraceValueInt(L"Bool", arg.value.boolValue ? 1 : 0);
            break;
        case NPVariantType_Int32:
            TraceValueInt(L"Int32", arg.value.intValue);
            break;
        case NPVariantType_Double: {
            wchar_t wszValue[64];
            swprintf(wszValue, 64, L"%g", arg.value.doubleValue);
            TraceValue(L"Double", wszValue);
            break;
        }
        default:
            break;
        }
    }
}

// The plug-in's words for one operation of the agent.
struct ScriptOperation {
    AgentOperationId id;
    const wchar_t *pwszMethod;
    const wchar_t *pwszCheckStep;
    const wchar_t *pwszCheckReason;
    // Names of the string arguments in their steps; null: bare step names.
    const wchar_t *apwszParams[MAX_OPERATION_PARAMS];
    const wchar_t *pwszAgentStep;
    const wchar_t *pwszResultStep;
    // A failed answer becomes the agent's status; not for the description
    // of that status itself.
    bool bRecordsAnswerFailure;
};

const ScriptOperation kScriptOperations[AGENT_OPERATION_COUNT] = {
    {OP_SELECT_CERTIFICATE,
     L"SelectCertificate",
     L"Check parameter",
     L"4 != argCount || !NPVARIANT_IS_STRING(args[0]) || !NPVARIANT_IS_STRING(args[1]) || "
     L"!NPVARIANT_IS_STRING(args[2]) || !NPVARIANT_IS_STRING(args[3])",
     {L"SubjectDNFilter", L"IssuerDNFilter", L"SNFilter", L"CSPFilter"},
     L"m_objCryptoAgent.SelectCertificate",
     nullptr,
     true},
    {OP_GET_SIGN_CERT_INFO,
     L"GetSignCertInfo",
     L"Check parameter",
     L"1 != argCount || !NPVARIANT_IS_STRING(args[0])",
     {L"InfoType"},
     L"m_objCryptoAgent.GetSignCertInfo",
     L"UTF16ToUTF8 - Reture Content Info",
     true},
    {OP_SIGN_MSG_PKCS1,
     L"SignMsgPKCS1",
     L"Check parameter",
     L"2 != argCount || !NPVARIANT_IS_STRING(args[0])|| !NPVARIANT_IS_STRING(args[1])",
     {L"SourceData", L"Hash Algorithm"},
     L"m_objCryptoAgent.SignMsgPKCS1",
     L"UTF16ToUTF8 - Reture Signature",
     true},
    {OP_SIGN_MSG_PKCS7,
     L"SignMsgPKCS7",
     L"Check parameter",
     L"3 != argCount || !NPVARIANT_IS_STRING(args[0])|| !NPVARIANT_IS_STRING(args[1])|| "
     L"!NPVARIANT_IS_BOOLEAN(args[2])",
     {L"SourceData", L"Hash Algorithm"},
     L"m_objCryptoAgent.SignMsgPKCS7Detached",
     L"UTF16ToUTF8 - Reture Signature",
     true},
    {OP_GET_VERSION, L"GetVersion", L"Check parameter", L"0 != argCount", {}, nullptr, nullptr, true},
    {OP_GET_KEY_ID,
     L"GetKeyID",
     L"Invalid parameters",
     L"(argCount != 1 || args[0].type != NPVariantType_String)",
     {nullptr},
     L"GetKeyID",
     L"UTF16ToUTF8 - KeyID",
     true},
    {OP_GET_MAC_ADDRESS,
     L"GetMACAddress",
     L"Check parameters.",
     L"0 != argCount",
     {},
     L"m_objCryptoAgent.GetMACAddress",
     L"UTF16ToUTF8 - GetMACAddress.",
     true},
    {OP_GET_LAST_ERROR_DESC,
     L"GetLastErrorDesc",
     L"Check parameters.",
     L"0 != argCount",
     {},
     L"m_objCryptoAgent.GetLastErrorDesc",
     L"UTF16ToUTF8 - Last error Description.",
     false},
};

bool ArgumentsFit(const AgentOperation &operation, const NPVariant *args, uint32_t argCount)
{
    if (argCount != operation.nParams) return false;
    for (uint32_t i = 0; i < argCount; ++i) {
        const bool bText = operation.aKinds[i] == ParamKind::Text;
        if (bText ? !NPVARIANT_IS_STRING(args[i]) : !NPVARIANT_IS_BOOLEAN(args[i])) return false;
    }
    return true;
}

// One call of a script method: its arguments from the NPVariants, the
// agent's call, and the result the page gets.
bool RunScriptOperation(const ScriptOperation &script, CCryptoAgent &agent, const NPVariant *args, uint32_t argCount,
                        NPVariant *result)
{
    const wchar_t *const kTraceFunction = script.pwszMethod;
    TraceHelper traceHelper_(kTraceFunction);
    const AgentOperation &operation = AGENT_OPERATIONS[script.id];
    TraceParameterInfo(args, argCount);
    HRESULT hResult = S_OK;
    if (!ArgumentsFit(operation, args, argCount))
        hResult = RefuseArguments(kTraceFunction, script.pwszCheckStep, script.pwszCheckReason);

    WideText texts[MAX_OPERATION_PARAMS];
    OperationArgs values;
    for (size_t i = 0; i < operation.nParams && SUCCEEDED(hResult); ++i) {
        if (operation.aKinds[i] == ParamKind::Text) {
            hResult = ArgumentText(kTraceFunction, script.apwszParams[i], args[i], texts[i]);
            values.apwszText[i] = texts[i].get();
            values.apszReceived[i] = args[i].value.stringValue.UTF8Characters;
            values.acbReceived[i] = args[i].value.stringValue.UTF8Length;
        } else {
            values.bFlag = args[i].value.boolValue;
        }
    }
    OperationResult answer;
    if (SUCCEEDED(hResult) && operation.pfnCall != nullptr)
        hResult = StepStatus(kTraceFunction, script.pwszAgentStep, RunAgentOperation(agent, script.id, values, answer));

    switch (operation.result) {
    case ResultKind::Selection:
        // The page gets a Boolean in every case.
        BOOLEAN_TO_NPVARIANT(answer.bSelected != 0, *result);
        return SUCCEEDED(hResult);
    case ResultKind::Version:
        if (SUCCEEDED(hResult)) hResult = SetPageResult(kTraceFunction, AGENT_VERSION_TEXT, result, agent);
        break;
    case ResultKind::Text: {
        NarrowText text;
        if (SUCCEEDED(hResult)) hResult = AnswerText(kTraceFunction, script.pwszResultStep, answer.bstrText, text);
        if (SUCCEEDED(hResult))
            hResult = script.bRecordsAnswerFailure ? SetPageResult(kTraceFunction, text.get(), result, agent)
                                                   : (SetStringResult(text.get(), result) ? S_OK : E_OUTOFMEMORY);
        break;
    }
    }
    return Finish(hResult, result);
}

} // namespace

bool CScriptablePluginObject::npRunOperation(AgentOperationId id, const NPVariant *args, uint32_t argCount,
                                             NPVariant *result)
{
    return RunScriptOperation(kScriptOperations[id], m_objCryptoAgent, args, argCount, result);
}
