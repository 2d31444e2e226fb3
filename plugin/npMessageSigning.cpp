// The script methods of the scriptable object: each checks its arguments,
// converts them for the agent, calls it and hands its answer to the page.
#include "BrowserFuncs.h"
#include "ScriptablePluginObject.h"
#include "TextConversion.h"
#include "TraceHelper.h"

#include <cstdio>
#include <memory>
#include <string>

namespace {

const char kPluginVersion[] = "3.4.0.6";
const VARIANT_BOOL kVariantTrue = static_cast<VARIANT_BOOL>(0xFFFF);

typedef std::unique_ptr<wchar_t[]> WideText;
typedef std::unique_ptr<char[]> NarrowText;

// Frees the agent's string when the method ends.
class AgentString {
public:
    AgentString() = default;
    AgentString(const AgentString &) = delete;
    AgentString &operator=(const AgentString &) = delete;
    ~AgentString() { SysFreeString(m_bstr); }
    BSTR *operator&() { return &m_bstr; }
    BSTR Get() const { return m_bstr; }

private:
    BSTR m_bstr = nullptr;
};

std::wstring StepName(const wchar_t *pwszStep, const wchar_t *pwszArgument)
{
    std::wstring step = pwszStep;
    if (pwszArgument != nullptr)
        step.append(L" - ").append(pwszArgument);
    return step;
}

HRESULT StepStatus(const wchar_t *pwszMethod, const std::wstring &step, HRESULT hResult)
{
    if (FAILED(hResult))
        TraceStepFailed(__FILE__, __LINE__, pwszMethod, step.c_str(), L"FAILED(hResult)",
                        hResult);
    else
        TraceStepOK(pwszMethod, step.c_str());
    return hResult;
}

// A string argument as the agent takes it: UTF-16, cut at its first NUL.
// A null argument name leaves the step names bare.
HRESULT ArgumentText(const wchar_t *pwszMethod, const wchar_t *pwszArgument,
                     const NPVariant &arg, WideText &text)
{
    char *pszCopy = nullptr;
    HRESULT hResult = ConverNPStringtoNULLEndString(&pszCopy, arg.value.stringValue.UTF8Characters,
                                                    arg.value.stringValue.UTF8Length);
    NarrowText copy(pszCopy);
    hResult = StepStatus(pwszMethod, StepName(L"ConverNPStringtoNULLEndString", pwszArgument),
                         hResult);
    if (FAILED(hResult))
        return hResult;
    wchar_t *pwszText = nullptr;
    int cchText = 0;
    hResult = UTF8ToUTF16(copy.get(), &pwszText, &cchText);
    text.reset(pwszText);
    return StepStatus(pwszMethod, StepName(L"UTF8ToUTF16", pwszArgument), hResult);
}

// The agent's answer in UTF-8; fails when the agent gave none.
HRESULT AnswerText(const wchar_t *pwszMethod, const wchar_t *pwszStep, BSTR bstrAnswer,
                   NarrowText &text)
{
    char *pszText = nullptr;
    int cbText = 0;
    HRESULT hResult = UTF16ToUTF8(bstrAnswer, &pszText, &cbText);
    text.reset(pszText);
    return StepStatus(pwszMethod, pwszStep, hResult);
}

HRESULT RefuseArguments(const wchar_t *pwszMethod, const wchar_t *pwszStep,
                        const wchar_t *pwszReason)
{
    TraceStepFailed(__FILE__, __LINE__, pwszMethod, pwszStep, pwszReason, E_INVALIDARG);
    return E_INVALIDARG;
}

// An answer handed to the page. When the browser has no memory for it the
// method fails, and the page learns why from GetLastErrorDesc.
HRESULT SetPageResult(const wchar_t *pwszMethod, const char *pszText, NPVariant *result,
                      CCryptoAgent &agent)
{
    if (SetStringResult(pszText, result)) {
        TraceStepOK(pwszMethod, L"Set result");
        return S_OK;
    }
    TraceStepFailed(__FILE__, __LINE__, pwszMethod, L"Set result", L"!SetStringResult",
                    E_OUTOFMEMORY);
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

bool AllStrings(const NPVariant *args, uint32_t argCount)
{
    for (uint32_t i = 0; i < argCount; ++i)
        if (!NPVARIANT_IS_STRING(args[i]))
            return false;
    return true;
}

} // namespace

bool CScriptablePluginObject::npSelectCertificate(const NPVariant *args, uint32_t argCount,
                                                  NPVariant *result)
{
    TRACE_FUNCTION(L"SelectCertificate");
    TraceParameterInfo(args, argCount);
    VARIANT_BOOL bSelected = 0;
    HRESULT hResult = S_OK;
    if (4 != argCount || !AllStrings(args, 4)) {
        hResult = RefuseArguments(kTraceFunction, L"Check parameter",
                                  L"4 != argCount || !NPVARIANT_IS_STRING(args[0]) || "
                                  L"!NPVARIANT_IS_STRING(args[1]) || "
                                  L"!NPVARIANT_IS_STRING(args[2]) || "
                                  L"!NPVARIANT_IS_STRING(args[3])");
    }
    static const wchar_t *const kNames[] = {L"SubjectDNFilter", L"IssuerDNFilter", L"SNFilter",
                                            L"CSPFilter"};
    WideText filters[4];
    for (int i = 0; i < 4 && SUCCEEDED(hResult); ++i)
        hResult = ArgumentText(kTraceFunction, kNames[i], args[i], filters[i]);
    if (SUCCEEDED(hResult))
        hResult = StepStatus(kTraceFunction, L"m_objCryptoAgent.SelectCertificate",
                             m_objCryptoAgent.SelectCertificate(filters[0].get(), filters[1].get(),
                                                                filters[2].get(), filters[3].get(),
                                                                &bSelected));
    BOOLEAN_TO_NPVARIANT(bSelected != 0, *result);
    return SUCCEEDED(hResult);
}

bool CScriptablePluginObject::npGetSignCertInfo(const NPVariant *args, uint32_t argCount,
                                                NPVariant *result)
{
    TRACE_FUNCTION(L"GetSignCertInfo");
    TraceParameterInfo(args, argCount);
    if (1 != argCount || !NPVARIANT_IS_STRING(args[0]))
        return Finish(RefuseArguments(kTraceFunction, L"Check parameter",
                                      L"1 != argCount || !NPVARIANT_IS_STRING(args[0])"),
                      result);
    WideText infoType;
    HRESULT hResult = ArgumentText(kTraceFunction, L"InfoType", args[0], infoType);
    AgentString answer;
    if (SUCCEEDED(hResult))
        hResult = StepStatus(kTraceFunction, L"m_objCryptoAgent.GetSignCertInfo",
                             m_objCryptoAgent.GetSignCertInfo(infoType.get(), &answer));
    NarrowText text;
    if (SUCCEEDED(hResult))
        hResult = AnswerText(kTraceFunction, L"UTF16ToUTF8 - Reture Content Info", answer.Get(),
                             text);
    if (SUCCEEDED(hResult))
        hResult = SetPageResult(kTraceFunction, text.get(), result, m_objCryptoAgent);
    return Finish(hResult, result);
}

bool CScriptablePluginObject::npSignMsgPKCS1(const NPVariant *args, uint32_t argCount,
                                             NPVariant *result)
{
    TRACE_FUNCTION(L"SignMsgPKCS1");
    TraceParameterInfo(args, argCount);
    if (2 != argCount || !AllStrings(args, 2))
        return Finish(RefuseArguments(kTraceFunction, L"Check parameter",
                                      L"2 != argCount || !NPVARIANT_IS_STRING(args[0])|| "
                                      L"!NPVARIANT_IS_STRING(args[1])"),
                      result);
    WideText source, hashAlg;
    HRESULT hResult = ArgumentText(kTraceFunction, L"SourceData", args[0], source);
    if (SUCCEEDED(hResult))
        hResult = ArgumentText(kTraceFunction, L"Hash Algorithm", args[1], hashAlg);
    AgentString signature;
    if (SUCCEEDED(hResult))
        hResult = StepStatus(kTraceFunction, L"m_objCryptoAgent.SignMsgPKCS1",
                             m_objCryptoAgent.SignMsgPKCS1(source.get(), hashAlg.get(), &signature));
    NarrowText text;
    if (SUCCEEDED(hResult))
        hResult = AnswerText(kTraceFunction, L"UTF16ToUTF8 - Reture Signature", signature.Get(),
                             text);
    if (SUCCEEDED(hResult))
        hResult = SetPageResult(kTraceFunction, text.get(), result, m_objCryptoAgent);
    return Finish(hResult, result);
}

bool CScriptablePluginObject::npSignMsgPKCS7(const NPVariant *args, uint32_t argCount,
                                             NPVariant *result)
{
    TRACE_FUNCTION(L"SignMsgPKCS7");
    TraceParameterInfo(args, argCount);
    if (3 != argCount || !AllStrings(args, 2) || !NPVARIANT_IS_BOOLEAN(args[2]))
        return Finish(RefuseArguments(kTraceFunction, L"Check parameter",
                                      L"3 != argCount || !NPVARIANT_IS_STRING(args[0])|| "
                                      L"!NPVARIANT_IS_STRING(args[1])|| "
                                      L"!NPVARIANT_IS_BOOLEAN(args[2])"),
                      result);
    WideText source, hashAlg;
    HRESULT hResult = ArgumentText(kTraceFunction, L"SourceData", args[0], source);
    if (SUCCEEDED(hResult))
        hResult = ArgumentText(kTraceFunction, L"Hash Algorithm", args[1], hashAlg);
    const VARIANT_BOOL bWithSrc = args[2].value.boolValue ? kVariantTrue : 0;
    AgentString signature;
    if (SUCCEEDED(hResult))
        hResult = StepStatus(kTraceFunction, L"m_objCryptoAgent.SignMsgPKCS7Detached",
                             m_objCryptoAgent.SignMsgPKCS7(source.get(), hashAlg.get(), bWithSrc,
                                                           &signature));
    NarrowText text;
    if (SUCCEEDED(hResult))
        hResult = AnswerText(kTraceFunction, L"UTF16ToUTF8 - Reture Signature", signature.Get(),
                             text);
    if (SUCCEEDED(hResult))
        hResult = SetPageResult(kTraceFunction, text.get(), result, m_objCryptoAgent);
    return Finish(hResult, result);
}

bool CScriptablePluginObject::npGetMACAddress(const NPVariant *args, uint32_t argCount,
                                              NPVariant *result)
{
    TRACE_FUNCTION(L"GetMACAddress");
    TraceParameterInfo(args, argCount);
    if (0 != argCount)
        return Finish(RefuseArguments(kTraceFunction, L"Check parameters.", L"0 != argCount"),
                      result);
    AgentString addresses;
    HRESULT hResult = StepStatus(kTraceFunction, L"m_objCryptoAgent.GetMACAddress",
                                 m_objCryptoAgent.GetMACAddress(&addresses));
    NarrowText text;
    if (SUCCEEDED(hResult))
        hResult = AnswerText(kTraceFunction, L"UTF16ToUTF8 - GetMACAddress.", addresses.Get(),
                             text);
    if (SUCCEEDED(hResult))
        hResult = SetPageResult(kTraceFunction, text.get(), result, m_objCryptoAgent);
    return Finish(hResult, result);
}

bool CScriptablePluginObject::npGetKeyID(const NPVariant *args, uint32_t argCount,
                                         NPVariant *result)
{
    TRACE_FUNCTION(L"GetKeyID");
    TraceParameterInfo(args, argCount);
    if (argCount != 1 || args[0].type != NPVariantType_String)
        return Finish(RefuseArguments(kTraceFunction, L"Invalid parameters",
                                      L"(argCount != 1 || args[0].type != NPVariantType_String)"),
                      result);
    WideText cspName;
    HRESULT hResult = ArgumentText(kTraceFunction, nullptr, args[0], cspName);
    AgentString keyID;
    if (SUCCEEDED(hResult))
        hResult = StepStatus(kTraceFunction, L"GetKeyID",
                             m_objCryptoAgent.GetKeyID(cspName.get(), &keyID));
    NarrowText text;
    if (SUCCEEDED(hResult))
        hResult = AnswerText(kTraceFunction, L"UTF16ToUTF8 - KeyID", keyID.Get(), text);
    if (SUCCEEDED(hResult))
        hResult = SetPageResult(kTraceFunction, text.get(), result, m_objCryptoAgent);
    return Finish(hResult, result);
}

bool CScriptablePluginObject::npGetVersion(const NPVariant *args, uint32_t argCount,
                                           NPVariant *result)
{
    TRACE_FUNCTION(L"GetVersion");
    TraceParameterInfo(args, argCount);
    if (0 != argCount)
        return Finish(RefuseArguments(kTraceFunction, L"Check parameter", L"0 != argCount"),
                      result);
    return Finish(SetPageResult(kTraceFunction, kPluginVersion, result, m_objCryptoAgent),
                  result);
}

bool CScriptablePluginObject::npGetLastErrorDesc(const NPVariant *args, uint32_t argCount,
                                                 NPVariant *result)
{
    TRACE_FUNCTION(L"GetLastErrorDesc");
    TraceParameterInfo(args, argCount);
    if (0 != argCount)
        return Finish(RefuseArguments(kTraceFunction, L"Check parameters.", L"0 != argCount"),
                      result);
    AgentString description;
    HRESULT hResult = StepStatus(kTraceFunction, L"m_objCryptoAgent.GetLastErrorDesc",
                                 m_objCryptoAgent.GetLastErrorDesc(&description));
    NarrowText text;
    if (SUCCEEDED(hResult))
        hResult = AnswerText(kTraceFunction, L"UTF16ToUTF8 - Last error Description.",
                             description.Get(), text);
    if (SUCCEEDED(hResult) && !SetStringResult(text.get(), result))
        hResult = E_OUTOFMEMORY;
    return Finish(hResult, result);
}
