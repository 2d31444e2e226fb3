#include "AgentOperations.h"

const char AGENT_VERSION_TEXT[] = "3.4.0.6";

namespace {

const ParamKind T = ParamKind::Text;

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

} // namespace

const AgentOperation AGENT_OPERATIONS[AGENT_OPERATION_COUNT] = {
    {"SelectCertificate", 4, {T, T, T, T}, ResultKind::Selection, CallSelectCertificate},
    {"GetSignCertInfo", 1, {T}, ResultKind::Text, CallGetSignCertInfo},
    {"SignMsgPKCS1", 2, {T, T}, ResultKind::Text, CallSignMsgPKCS1},
    {"SignMsgPKCS7", 3, {T, T, ParamKind::Boolean}, ResultKind::Text, CallSignMsgPKCS7},
    {"GetVersion", 0, {}, ResultKind::Version, nullptr},
    {"GetKeyID", 1, {T}, ResultKind::Text, CallGetKeyID},
    {"GetMACAddress", 0, {}, ResultKind::Text, CallGetMACAddress},
    {"GetLastErrorDesc", 0, {}, ResultKind::Text, CallGetLastErrorDesc},
};
