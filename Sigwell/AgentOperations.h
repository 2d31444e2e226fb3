// The agent's operations as the host's requests and the plug-in's script
// methods offer them, each described once: its parameters and their kinds,
// its agent call and the kind of its result, and the one runner that
// applies the rules every call shares. The host and the plug-in read the
// parameters from their own values (JSON items, NPVariants), trace in their
// own words and answer in their own form.
#pragma once

#include "CryptoAgent.h"

#include <cstddef>

// The version both deliverables answer.
extern const char AGENT_VERSION_TEXT[];

enum class ParamKind { Text, Boolean };

// Selection: the agent's selected flag; Text: the agent's string;
// Version: AGENT_VERSION_TEXT, no agent call.
enum class ResultKind { Selection, Text, Version };

const size_t MAX_OPERATION_PARAMS = 4;

// One call's parameters as the agent takes them: texts in UTF-16, by
// position, with the UTF-8 bytes each arrived as, and the one Boolean.
struct OperationArgs {
    const wchar_t *apwszText[MAX_OPERATION_PARAMS] = {};
    const char *apszReceived[MAX_OPERATION_PARAMS] = {};
    size_t acbReceived[MAX_OPERATION_PARAMS] = {};
    bool bFlag = false;
    // The most characters of text result the caller can deliver; 0: no
    // limit.
    size_t cchResultRoom = 0;
};

// What the agent handed back; its string goes with the record.
struct OperationResult {
    OperationResult() = default;
    OperationResult(const OperationResult &) = delete;
    OperationResult &operator=(const OperationResult &) = delete;
    ~OperationResult() { SysFreeString(bstrText); }

    BSTR bstrText = nullptr;
    VARIANT_BOOL bSelected = VARIANT_FALSE;
};

struct AgentOperation {
    const char *pszName;
    size_t nParams;
    ParamKind aKinds[MAX_OPERATION_PARAMS];
    ResultKind result;
    // Null for the version, which calls no agent.
    HRESULT (*pfnCall)(CCryptoAgent &agent, const OperationArgs &args, OperationResult &out);
    // The most characters the text result can take, known before the call;
    // null where it is small whatever the parameters.
    HRESULT (*pfnResultLength)(const CCryptoAgent &agent, const OperationArgs &args, size_t *pcchResult);
};

enum AgentOperationId {
    OP_SELECT_CERTIFICATE,
    OP_GET_SIGN_CERT_INFO,
    OP_SIGN_MSG_PKCS1,
    OP_SIGN_MSG_PKCS7,
    OP_GET_VERSION,
    OP_GET_KEY_ID,
    OP_GET_MAC_ADDRESS,
    OP_GET_LAST_ERROR_DESC,
    AGENT_OPERATION_COUNT
};

extern const AgentOperation AGENT_OPERATIONS[AGENT_OPERATION_COUNT];

// Runs one operation's agent call, refusing it before the agent is reached
// when the agent, or any agent on this thread, is still busy with another
// call (a PIN dialog's message loop lets a page call again), when a text
// is not exactly the bytes it arrived as, or when the result could not be
// delivered. The version calls nothing and succeeds.
HRESULT RunAgentOperation(CCryptoAgent &agent, AgentOperationId id, const OperationArgs &args, OperationResult &out);
