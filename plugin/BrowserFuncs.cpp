#include "BrowserFuncs.h"

#include "PluginModule.h"
#include "TraceHelper.h"

#include <cstring>
#include <new>

HINSTANCE g_hPluginInstance = nullptr;
NPNetscapeFuncs g_stBrowserFuncs = {};
NPClass *g_pScriptableClass = nullptr;

void *NPN_MemAlloc(uint32_t size)
{
    TRACE_FUNCTION(L"NPN_MemAlloc");
    return g_stBrowserFuncs.memalloc(size);
}

void NPN_MemFree(void *ptr)
{
    TRACE_FUNCTION(L"NPN_MemFree");
    g_stBrowserFuncs.memfree(ptr);
}

NPIdentifier NPN_GetStringIdentifier(const NPUTF8 *name)
{
    TRACE_FUNCTION(L"NPN_GetStringIdentifier");
    return g_stBrowserFuncs.getstringidentifier(name);
}

NPUTF8 *NPN_UTF8FromIdentifier(NPIdentifier identifier)
{
    TRACE_FUNCTION(L"NPN_UTF8FromIdentifier");
    return g_stBrowserFuncs.utf8fromidentifier(identifier);
}

NPObject *NPN_CreateObject(NPP instance)
{
    TRACE_FUNCTION(L"NPN_CreateObject");
    return g_stBrowserFuncs.createobject(instance, g_pScriptableClass);
}

NPObject *NPN_RetainObject(NPObject *obj)
{
    TRACE_FUNCTION(L"NPN_RetainObject");
    return g_stBrowserFuncs.retainobject(obj);
}

void NPN_ReleaseObject(NPObject *obj)
{
    TRACE_FUNCTION(L"NPN_ReleaseObject");
    g_stBrowserFuncs.releaseobject(obj);
}

HRESULT ConverNPStringtoNULLEndString(char **ppszText, const NPUTF8 *pszCharacters, uint32_t nLength)
{
    TRACE_FUNCTION(L"ConverNPStringtoNULLEndString");
    TraceValueInt(L"Length", static_cast<LONG>(nLength));
    *ppszText = nullptr;
    // The terminator must fit in a size_t, and characters must be there to
    // copy: a string the browser handed without them stays empty.
    if (static_cast<unsigned long long>(nLength) + 1 > SIZE_MAX) {
        TRACE_FAILED(L"New Memory", L"nLength + 1 > SIZE_MAX", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    char *pszText = new (std::nothrow) char[static_cast<size_t>(nLength) + 1];
    if (pszText == nullptr) {
        TRACE_FAILED(L"New Memory", L"NULL == pszText", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    memset(pszText, 0, static_cast<size_t>(nLength) + 1);
    if (pszCharacters != nullptr) memcpy(pszText, pszCharacters, nLength);
    *ppszText = pszText;
    TRACE_A_VALUE("Text", pszText);
    return S_OK;
}
