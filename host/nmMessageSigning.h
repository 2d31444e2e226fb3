// Turns one request text into one answer text.
#pragma once

struct cJSON;
class CCryptoAgent;

// A request handler: builds the answer object from the parameters with the
// agent and returns 0 whatever happened; its outcome is in the answer.
typedef int (*PFN_REQUEST_HANDLER)(cJSON **ppResponseJSON, const cJSON *pArgs,
                                   CCryptoAgent *pobjCryptoAgent);

int nmSelectCertificate(cJSON **ppResponseJSON, const cJSON *pArgs,
                        CCryptoAgent *pobjCryptoAgent);
int nmGetSignCertInfo(cJSON **ppResponseJSON, const cJSON *pArgs, CCryptoAgent *pobjCryptoAgent);
int nmSignMsgPKCS1(cJSON **ppResponseJSON, const cJSON *pArgs, CCryptoAgent *pobjCryptoAgent);
int nmSignMsgPKCS7(cJSON **ppResponseJSON, const cJSON *pArgs, CCryptoAgent *pobjCryptoAgent);
int nmGetVersion(cJSON **ppResponseJSON, const cJSON *pArgs, CCryptoAgent *pobjCryptoAgent);
int nmGetKeyID(cJSON **ppResponseJSON, const cJSON *pArgs, CCryptoAgent *pobjCryptoAgent);
int nmGetMACAddress(cJSON **ppResponseJSON, const cJSON *pArgs, CCryptoAgent *pobjCryptoAgent);
int nmGetLastErrorDesc(cJSON **ppResponseJSON, const cJSON *pArgs,
                       CCryptoAgent *pobjCryptoAgent);
int nmCheckHost(cJSON **ppResponseJSON);

// Calls the handler whose name matches pszFuncName without regard to case,
// with the host's agent. Returns its status, or -1 (no answer object) for a
// name without one.
int Invoke(cJSON **ppResponseJSON, const char *pszFuncName, const cJSON *pArgs);

// Always returns 0 and always hands out an answer (a new buffer the caller
// frees with delete[]), or null only when no memory was left to build one.
int ParseAndRespondRequest(const char *pszRequest, char **ppszAnswer);
