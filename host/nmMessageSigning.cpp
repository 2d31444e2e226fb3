#include "nmMessageSigning.h"

#include <cstring>
#include <new>

// Until the request handlers are in place the host echoes each request.
int ParseAndRespondRequest(const char *pszRequest, char **ppszAnswer)
{
    size_t cch = strlen(pszRequest);
    char *pszAnswer = new (std::nothrow) char[cch + 1];
    if (pszAnswer != nullptr)
        memcpy(pszAnswer, pszRequest, cch + 1);
    *ppszAnswer = pszAnswer;
    return 0;
}
