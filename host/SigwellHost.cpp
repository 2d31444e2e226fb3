#include "SigwellHost.h"

#include "CryptoAgent.h"
#include "IOStream.h"
#include "TraceHelper.h"
#include "nmMessageSigning.h"

#include <cstdio>
#include <new>

HINSTANCE g_hInstance = nullptr;
CCryptoAgent *g_pobjCryptoAgent = nullptr;

int MsgHandleProc()
{
    TRACE_FUNCTION(L"MsgHandleProc");
    char *pszRequest = nullptr;
    char *pszAnswer = nullptr;
    int nResult = 0;
    for (;;) {
        delete[] pszAnswer;
        delete[] pszRequest;
        pszAnswer = nullptr;
        pszRequest = nullptr;

        unsigned int nLength = 0;
        nResult = ReadFromNativeMessaging(&pszRequest, _fileno(stdin), &nLength);
        if (nResult != 0) {
            TRACE_A_FAILED("ReadFromNativeMessaging", nResult, "VESK_OK != nResult");
            break;
        }
        if (nLength == 0) break;
        TRACE_A_VALUE("Request", pszRequest);

        ParseAndRespondRequest(pszRequest, &pszAnswer);
        if (pszAnswer == nullptr) {
            // No memory even for the answer: nothing can be sent.
            TRACE_A_FAILED("ParseAndRespondRequest", -1, "NULL == pszAnswer");
            nResult = -1;
            break;
        }
        TRACE_A_VALUE("Answer", pszAnswer);

        nResult = WriteToNativeMessaging(pszAnswer, _fileno(stdout));
        if (nResult != 0) {
            TRACE_A_FAILED("WriteToNativeMessaging", nResult, "VESK_OK != nResult");
            break;
        }
    }
    delete[] pszAnswer;
    delete[] pszRequest;
    return nResult;
}

int wmain(int, wchar_t **)
{
    TraceRegisterProvider();
    int nResult = 0;

    g_hInstance = GetModuleHandleW(nullptr);
    if (g_hInstance == nullptr) {
        TRACE_A_FAILED("GetModuleHandleW", 0, "NULL == g_hInstance");
    } else if ((g_pobjCryptoAgent = new (std::nothrow) CCryptoAgent()) == nullptr) {
        TRACE_A_FAILED("new CCryptoAgent", 0, "NULL == g_pobjCryptoAgent");
    } else if ((nResult = SetTranslationMode()) != 0) {
        TRACE_A_FAILED("SetTranslationMode", nResult, "VESK_OK != nResult");
    } else {
        nResult = MsgHandleProc();
        if (nResult != 0)
            TRACE_A_FAILED("MsgHandleProc", nResult, "VESK_OK != nResult");
        else
            TRACE_A_OK("MsgHandleProc");
    }

    delete g_pobjCryptoAgent;
    g_pobjCryptoAgent = nullptr;
    TraceUnregisterProvider();
    return nResult;
}
