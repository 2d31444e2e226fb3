// Test responder for the host loop: answers each request with its own text,
// so that frame sizes on the way out are under the test's control.
#include "nmMessageSigning.h"

#include <cstring>
#include <new>

int ParseAndRespondRequest(const char *pszRequest, char **ppszAnswer)
{
    size_t cch = strlen(pszRequest);
    char *pszAnswer = new (std::nothrow) char[cch + 1];
    if (pszAnswer != nullptr) memcpy(pszAnswer, pszRequest, cch + 1);
    *ppszAnswer = pszAnswer;
    return 0;
}
