#include "AgentOperations.h"

#include "TextConversion.h"
#include "TraceHelper.h"

#include <cstring>
#include <memory>

const char AGENT_VERSION_TEXT[] = "3.4.0.6";

namespace {

const ParamKind T = ParamKind::Text;

const wchar_t *const kTraceFunction = L"RunAgentOperation";

HRESULT CallSelectCertificate(CCryptoAgent &agent, const OperationArgs &args, OperationResult &out)
{
    return agent.SelectCertificate(args.apwszText[0], args.apwszText[1], args.apwszText[2], args.apwszText[3],
                                   &out.bSelected);
}

HRESULT CallGetSignCertInfo(CCryptoAgent &agent, const OperationArgs &args, OperationResult &out)
{
    return agent.GetSignCertInfo(args.apwszText[0], &out.bstrText);
}

HRESULT CallSignMsgPKCS1(CCryptoAgent &agent, const OperationArgs &args, OperationResult &out)
{
    return agent.SignMsgPKCS1(args.apwszText[0], args.apwszText[1], &out.bstrText);
}

// The agent takes the automation Boolean: only VARIANT_TRUE attaches.
HRESULT CallSignMsgPKCS7(CCryptoAgent &agent, const OperationArgs &args, OperationResult &out)
{
    return agent.SignMsgPKCS7(args.apwszText[0], args.apwszText[1], args.bFlag ? VARIANT_TRUE : VARIANT_FALSE,
                              &out.bstrText);
}

HRESULT CallGetKeyID(CCryptoAgent &agent, const OperationArgs &args, OperationResult &out)
{
    return agent.GetKeyID(args.apwszText[0], &out.bstrText);
}

HRESULT CallGetMACAddress(CCryptoAgent &agent, const OperationArgs &, OperationResult &out)
{
    return agent.GetMACAddress(&out.bstrText);
}

HRESULT CallGetLastErrorDesc(CCryptoAgent &agent, const OperationArgs &, OperationResult &out)
{
    return agent.GetLastErrorDesc(&out.bstrText);
}

HRESULT SignedDataLength(const CCryptoAgent &agent, const OperationArgs &args, size_t *pcchResult)
{
    return agent.SignedDataTextLength(args.acbReceived[0], args.bFlag, pcchResult);
}

// Whether a call of any agent is running on this thread: a PIN dialog's
// message loop lets the page call another instance's agent, which would
// reach the providers again from inside the first call.
thread_local bool t_bOperationOnThread = false;

// The agent, and the thread, held for one call, released when it returns.
class OperationHold {
public:
    explicit OperationHold(CCryptoAgent &agent)
        : m_agent(agent), m_bAgentHeld(agent.EnterOperation()), m_bThreadHeld(m_bAgentHeld && !t_bOperationOnThread)
    {
        if (m_bThreadHeld) t_bOperationOnThread = true;
    }
    OperationHold(const OperationHold &) = delete;
    OperationHold &operator=(const OperationHold &) = delete;
    ~OperationHold()
    {
        if (m_bThreadHeld) t_bOperationOnThread = false;
        if (m_bAgentHeld) m_agent.LeaveOperation();
    }
    bool AgentHeld() const { return m_bAgentHeld; }
    bool ThreadHeld() const { return m_bThreadHeld; }

private:
    CCryptoAgent &m_agent;
    const bool m_bAgentHeld;
    const bool m_bThreadHeld;
};

// The text is exactly the bytes received: no NUL inside (which would cut
// it short), and back in UTF-8 the same bytes (an invalid sequence would
// have been replaced). A browser may hand an empty text without bytes.
bool IsExactText(const char *pReceived, size_t cbReceived, const wchar_t *pwszText)
{
    if (pReceived == nullptr && cbReceived == 0) pReceived = "";
    if (pReceived == nullptr || pwszText == nullptr || memchr(pReceived, '\0', cbReceived) != nullptr) return false;
    char *pszBack = nullptr;
    int cbBack = 0;
    const HRESULT hResult = UTF16ToUTF8(pwszText, &pszBack, &cbBack);
    std::unique_ptr<char[]> back(pszBack);
    return SUCCEEDED(hResult) && static_cast<size_t>(cbBack) == cbReceived &&
        memcmp(pszBack, pReceived, cbReceived) == 0;
}

// A refusal the agent never saw, described by its next GetLastErrorDesc.
HRESULT Refuse(CCryptoAgent &agent, const wchar_t *pwszStep, const wchar_t *pwszReason)
{
    TRACE_FAILED(pwszStep, pwszReason, E_INVALIDARG);
    agent.RecordStatus(E_INVALIDARG);
    return E_INVALIDARG;
}

} // namespace

const AgentOperation AGENT_OPERATIONS[AGENT_OPERATION_COUNT] = {
    {"SelectCertificate", 4, {T, T, T, T}, ResultKind::Selection, CallSelectCertificate, nullptr},
    {"GetSignCertInfo", 1, {T}, ResultKind::Text, CallGetSignCertInfo, nullptr},
    {"SignMsgPKCS1", 2, {T, T}, ResultKind::Text, CallSignMsgPKCS1, nullptr},
    {"SignMsgPKCS7", 3, {T, T, ParamKind::Boolean}, ResultKind::Text, CallSignMsgPKCS7, SignedDataLength},
    {"GetVersion", 0, {}, ResultKind::Version, nullptr, nullptr},
    {"GetKeyID", 1, {T}, ResultKind::Text, CallGetKeyID, nullptr},
    {"GetMACAddress", 0, {}, ResultKind::Text, CallGetMACAddress, nullptr},
    {"GetLastErrorDesc", 0, {}, ResultKind::Text, CallGetLastErrorDesc, nullptr},
};

HRESULT RunAgentOperation(CCryptoAgent &agent, AgentOperationId id, const OperationArgs &args, OperationResult &out)
{
    const AgentOperation &operation = AGENT_OPERATIONS[id];
    if (operation.pfnCall == nullptr) return S_OK;
    TraceHelper traceHelper_(kTraceFunction);
    // Refused leaving the agent as it is: the call in progress still owns
    // the selection and the last status.
    OperationHold hold(agent);
    if (!hold.AgentHeld()) {
        TRACE_FAILED(L"Check agent is free", L"TRUE == m_bInOperation", HRESULT_FROM_WIN32(ERROR_BUSY));
        return HRESULT_FROM_WIN32(ERROR_BUSY);
    }
    if (!hold.ThreadHeld()) {
        TRACE_FAILED(L"Check thread is free", L"TRUE == t_bOperationOnThread", HRESULT_FROM_WIN32(ERROR_BUSY));
        return HRESULT_FROM_WIN32(ERROR_BUSY);
    }
    for (size_t i = 0; i < operation.nParams; ++i)
        if (operation.aKinds[i] == ParamKind::Text &&
            !IsExactText(args.apszReceived[i], args.acbReceived[i], args.apwszText[i]))
            return Refuse(agent, L"Check parameter text", L"text holds a NUL or is not the UTF-8 received");
    size_t cchResult = 0;
    if (args.cchResultRoom != 0 && operation.pfnResultLength != nullptr &&
        SUCCEEDED(operation.pfnResultLength(agent, args, &cchResult)) && cchResult > args.cchResultRoom)
        return Refuse(agent, L"Check result length", L"cchResult > cchResultRoom");
    return operation.pfnCall(agent, args, out);
}
