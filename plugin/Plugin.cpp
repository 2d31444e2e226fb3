#include "Plugin.h"

#include "BrowserFuncs.h"
#include "PluginModule.h"
#include "TraceHelper.h"

CPlugin::CPlugin(NPP pNPInstance) : m_pNPInstance(pNPInstance), m_pScriptableObject(nullptr)
{
    TRACE_FUNCTION(L"CPlugin::CPlugin");
    m_pNPInstance->pdata = this;
}

CPlugin::~CPlugin()
{
    TRACE_FUNCTION(L"CPlugin::~CPlugin");
    if (m_pScriptableObject != nullptr) {
        NPN_ReleaseObject(m_pScriptableObject);
        m_pScriptableObject = nullptr;
    }
}

void CPlugin::shut()
{
    TRACE_FUNCTION(L"CPlugin::shut");
}

int16_t CPlugin::handleEvent(void *)
{
    TRACE_FUNCTION(L"CPlugin::handleEvent");
    return 0;
}

NPObject *CPlugin::GetScriptableObject()
{
    TRACE_FUNCTION(L"CPlugin::GetScriptableObject");
    if (m_pScriptableObject == nullptr) {
        if (g_pScriptableClass == nullptr) {
            TraceErrorReport(kTraceFunction, L"The scriptable class is not recorded.");
            return nullptr;
        }
        m_pScriptableObject = NPN_CreateObject(m_pNPInstance);
    }
    if (m_pScriptableObject != nullptr) NPN_RetainObject(m_pScriptableObject);
    return m_pScriptableObject;
}
