#include "nmMessageSigning.h"

#include "JSONUtility.h"
#include "SigwellHost.h"
#include "TraceHelper.h"

#include <cstring>

namespace {

struct REQUEST_HANDLER_ENTRY {
    const char *pszName;
    PFN_REQUEST_HANDLER pfnHandler;
};

// Tried in order; the null row ends the table.
const REQUEST_HANDLER_ENTRY kRequestHandlers[] = {
    {nullptr, nullptr},
};

} // namespace

int Invoke(cJSON **ppResponseJSON, const char *pszFuncName, const cJSON *pArgs)
{
    for (const REQUEST_HANDLER_ENTRY *pEntry = kRequestHandlers; pEntry->pszName; ++pEntry)
        if (_stricmp(pszFuncName, pEntry->pszName) == 0)
            return pEntry->pfnHandler(ppResponseJSON, pArgs, g_pobjCryptoAgent);
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

    delete[] pszFuncName;
    delete[] pszRandomId;
    cJSON_Delete(pArgs);
    cJSON_Delete(pResponseJSON);
    return 0;
}
