// The library's exports and the handlers the browser calls per instance.
#include "BrowserBoundary.h"
#include "BrowserFuncs.h"
#include "CertificateChainDelete.h"
#include "CertificateChainImport.h"
#include "NPAPI.h"
#include "Plugin.h"
#include "PluginModule.h"
#include "ScriptablePluginObject.h"
#include "TraceHelper.h"

#include <objbase.h>

#include <cstddef>
#include <cstring>
#include <new>

namespace {

const char kMIMEDescription[] = "application/npSigwell:*:npSigwell certificate utilities";
const char kPluginName[] = "NPRuntimeTest";
const char kPluginDescription[] = "NPRuntime scriptability API test plugin";

// The handlers' table must reach setvalue, the browser's setexception.
const uint16_t kMinPluginFuncsSize = offsetof(NPPluginFuncs, setvalue) + sizeof(void *);
const uint16_t kMinBrowserFuncsSize = 196;
const uint16_t kPluginFuncsVersion = 22;

// Resources with the production and the test hierarchy.
const WORD IDR_CA_CHAIN_OPERATION = 104;
const WORD IDR_CA_CHAIN_TEST = 105;

CPlugin *PluginOf(NPP instance)
{
    return static_cast<CPlugin *>(instance->pdata);
}

NPError NPP_New(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t, char *[], char *[], NPSavedData *)
{
    TRACE_FUNCTION(L"NPP_New");
    return BrowserBoundary(static_cast<NPError>(NPERR_OUT_OF_MEMORY_ERROR), [&]() -> NPError {
        if (instance == nullptr) return NPERR_INVALID_INSTANCE_ERROR;
        TRACE_A_VALUE("MIME type", pluginType);
        TraceValueInt(L"Mode", mode);
        CPlugin *pPlugin = new (std::nothrow) CPlugin(instance);
        if (pPlugin == nullptr) return NPERR_OUT_OF_MEMORY_ERROR;
        instance->pdata = pPlugin;
        return NPERR_NO_ERROR;
    });
}

NPError NPP_Destroy(NPP instance, NPSavedData **)
{
    TRACE_FUNCTION(L"NPP_Destroy");
    return BrowserBoundary(static_cast<NPError>(NPERR_GENERIC_ERROR), [&]() -> NPError {
        if (instance == nullptr) return NPERR_INVALID_INSTANCE_ERROR;
        CPlugin *pPlugin = PluginOf(instance);
        if (pPlugin != nullptr) {
            pPlugin->shut();
            delete pPlugin;
            instance->pdata = nullptr;
        }
        return NPERR_NO_ERROR;
    });
}

NPError NPP_SetWindow(NPP instance, NPWindow *)
{
    TRACE_FUNCTION(L"NPP_SetWindow");
    return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : NPERR_NO_ERROR;
}

NPError NPP_NewStream(NPP instance, NPMIMEType, NPStream *, NPBool, uint16_t *)
{
    TRACE_FUNCTION(L"NPP_NewStream");
    return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : NPERR_NO_ERROR;
}

NPError NPP_DestroyStream(NPP instance, NPStream *, NPReason)
{
    TRACE_FUNCTION(L"NPP_DestroyStream");
    return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : NPERR_NO_ERROR;
}

void NPP_StreamAsFile(NPP, NPStream *, const char *)
{
    TRACE_FUNCTION(L"NPP_StreamAsFile");
}

int32_t NPP_WriteReady(NPP instance, NPStream *)
{
    TRACE_FUNCTION(L"NPP_WriteReady");
    return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : 0x0FFFFFFF;
}

int32_t NPP_Write(NPP instance, NPStream *, int32_t, int32_t len, void *)
{
    TRACE_FUNCTION(L"NPP_Write");
    return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : len;
}

void NPP_Print(NPP, NPPrint *)
{
    TRACE_FUNCTION(L"NPP_Print");
}

int16_t NPP_HandleEvent(NPP instance, void *event)
{
    TRACE_FUNCTION(L"NPP_HandleEvent");
    return BrowserBoundary(static_cast<int16_t>(0), [&]() -> int16_t {
        if (instance != nullptr && PluginOf(instance) != nullptr) PluginOf(instance)->handleEvent(event);
        return 0;
    });
}

void NPP_URLNotify(NPP, const char *, NPReason, void *)
{
    TRACE_FUNCTION(L"NPP_URLNotify");
}

NPError NPP_GetValue(NPP instance, NPPVariable variable, void *value)
{
    TRACE_FUNCTION(L"NPP_GetValue");
    return BrowserBoundary(static_cast<NPError>(NPERR_GENERIC_ERROR), [&]() -> NPError {
        if (instance == nullptr) return NPERR_INVALID_INSTANCE_ERROR;
        CPlugin *pPlugin = PluginOf(instance);
        if (pPlugin == nullptr) return NPERR_GENERIC_ERROR;
        TraceValueInt(L"Variable", variable);
        switch (variable) {
        case NPPVpluginNameString:
            *static_cast<const char **>(value) = kPluginName;
            return NPERR_NO_ERROR;
        case NPPVpluginDescriptionString:
            *static_cast<const char **>(value) = kPluginDescription;
            return NPERR_NO_ERROR;
        case NPPVpluginNeedsXEmbed:
            *static_cast<NPBool *>(value) = 1;
            return NPERR_NO_ERROR;
        case NPPVpluginScriptableNPObject: {
            NPObject *pObject = pPlugin->GetScriptableObject();
            *static_cast<NPObject **>(value) = pObject;
            return pObject != nullptr ? NPERR_NO_ERROR : NPERR_GENERIC_ERROR;
        }
        default:
            return NPERR_GENERIC_ERROR;
        }
    });
}

NPError NPP_SetValue(NPP instance, NPNVariable, void *)
{
    TRACE_FUNCTION(L"NPP_SetValue");
    return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : NPERR_NO_ERROR;
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID)
{
    if (dwReason == DLL_PROCESS_ATTACH) g_hPluginInstance = hInstance;
    return TRUE;
}

NPError WINAPI NP_GetEntryPoints(NPPluginFuncs *pFuncs)
{
    TRACE_FUNCTION(L"NP_GetEntryPoints");
    g_pScriptableClass = &CScriptablePluginObject::s_npClass;
    if (pFuncs == nullptr || pFuncs->size < kMinPluginFuncsSize) return NPERR_INVALID_FUNCTABLE_ERROR;
    pFuncs->version = kPluginFuncsVersion;
    pFuncs->newp = NPP_New;
    pFuncs->destroy = NPP_Destroy;
    pFuncs->setwindow = NPP_SetWindow;
    pFuncs->newstream = NPP_NewStream;
    pFuncs->destroystream = NPP_DestroyStream;
    pFuncs->asfile = NPP_StreamAsFile;
    pFuncs->writeready = NPP_WriteReady;
    pFuncs->write = NPP_Write;
    pFuncs->print = NPP_Print;
    pFuncs->event = NPP_HandleEvent;
    pFuncs->urlnotify = NPP_URLNotify;
    pFuncs->javaClass = nullptr;
    pFuncs->getvalue = NPP_GetValue;
    pFuncs->setvalue = NPP_SetValue;
    return NPERR_NO_ERROR;
}

NPError WINAPI NP_Initialize(NPNetscapeFuncs *pFuncs)
{
    TraceRegisterProvider();
    return BrowserBoundary(static_cast<NPError>(NPERR_GENERIC_ERROR), [&]() -> NPError {
        TRACE_FUNCTION(L"NP_Initialize");
        if (pFuncs == nullptr) return NPERR_INVALID_FUNCTABLE_ERROR;
        if ((pFuncs->version >> 8) != 0) return NPERR_INCOMPATIBLE_VERSION_ERROR;
        if (pFuncs->size < kMinBrowserFuncsSize) return NPERR_INVALID_FUNCTABLE_ERROR;
        // Entries from geturl to setexception; the later ones stay null.
        const size_t cbFirst = offsetof(NPNetscapeFuncs, geturl);
        const size_t cbEnd = offsetof(NPNetscapeFuncs, setexception) + sizeof(NPGenericProcPtr);
        g_stBrowserFuncs.size = pFuncs->size;
        g_stBrowserFuncs.version = pFuncs->version;
        memcpy(reinterpret_cast<char *>(&g_stBrowserFuncs) + cbFirst, reinterpret_cast<const char *>(pFuncs) + cbFirst,
               cbEnd - cbFirst);
        g_stBrowserFuncs.getJavaEnv = nullptr;
        g_stBrowserFuncs.getJavaPeer = nullptr;
        return NPERR_NO_ERROR;
    });
}

NPError WINAPI NP_Shutdown()
{
    {
        TRACE_FUNCTION(L"NP_Shutdown");
    }
    TraceUnregisterProvider();
    return NPERR_NO_ERROR;
}

const char *NP_GetMIMEDescription()
{
    TRACE_FUNCTION(L"NP_GetMIMEDescription");
    return kMIMEDescription;
}

// The chain imports need COM on the calling thread; a thread that has it
// keeps it as it was. The result is the first failed import's status.
HRESULT NP_Install()
{
    TRACE_FUNCTION(L"NP_Install");
    return BrowserBoundary(static_cast<HRESULT>(E_UNEXPECTED), []() -> HRESULT {
        TraceStatus(L"DeleteRSADiscardCert", DeleteRSADiscardCert());
        TraceStatus(L"DeleteSM2DiscardCert", DeleteSM2DiscardCert());
        const HRESULT hrCOM = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const HRESULT hrOperation = ImportCertificateChainfromResoure(IDR_CA_CHAIN_OPERATION);
        TraceStatus(L"ImportCertificateChainfromResoure(RSA Operation)", hrOperation);
        const HRESULT hrTest = ImportCertificateChainfromResoure(IDR_CA_CHAIN_TEST);
        TraceStatus(L"ImportCertificateChainfromResoure(RSA Test)", hrTest);
        if (SUCCEEDED(hrCOM)) CoUninitialize();
        return FAILED(hrOperation) ? hrOperation : FAILED(hrTest) ? hrTest : S_OK;
    });
}

} // extern "C"
