#include "ScriptablePluginObject.h"

#include "BrowserBoundary.h"
#include "BrowserFuncs.h"
#include "TraceHelper.h"

#include <cstring>
#include <new>

namespace {

CScriptablePluginObjectBase *ObjectOf(NPObject *npobj)
{
    return static_cast<CScriptablePluginObjectBase *>(npobj);
}

// The name's text for the trace; the browser's copy is given back.
void TraceIdentifier(NPIdentifier name)
{
    NPUTF8 *pszName = NPN_UTF8FromIdentifier(name);
    TRACE_A_VALUE("Name", pszName);
    if (pszName != nullptr) NPN_MemFree(pszName);
}

bool IsNamed(NPIdentifier name, const char *pszName)
{
    return name == NPN_GetStringIdentifier(pszName);
}

const char kDefaultMethodResult[] = "default method return val";

} // namespace

NPClass CScriptablePluginObject::s_npClass = {
    NP_CLASS_STRUCT_VERSION,
    AllocateCScriptableObject,
    CScriptablePluginObjectBase::_Deallocate,
    CScriptablePluginObjectBase::_Invalidate,
    CScriptablePluginObjectBase::_HasMethod,
    CScriptablePluginObjectBase::_Invoke,
    CScriptablePluginObjectBase::_InvokeDefault,
    CScriptablePluginObjectBase::_HasProperty,
    CScriptablePluginObjectBase::_GetProperty,
    CScriptablePluginObjectBase::_SetProperty,
    CScriptablePluginObjectBase::_RemoveProperty,
    CScriptablePluginObjectBase::_Enumerate,
    CScriptablePluginObjectBase::_Construct,
};

void CScriptablePluginObjectBase::_Deallocate(NPObject *npobj)
{
    BrowserBoundary([&] { delete ObjectOf(npobj); });
}

void CScriptablePluginObjectBase::_Invalidate(NPObject *npobj)
{
    BrowserBoundary([&] { ObjectOf(npobj)->Invalidate(); });
}

bool CScriptablePluginObjectBase::_HasMethod(NPObject *npobj, NPIdentifier name)
{
    return BrowserBoundary(false, [&] { return ObjectOf(npobj)->HasMethod(name); });
}

// A method may run page script before it returns (a provider's PIN dialog
// runs a message loop on this thread), and that script may remove the
// instance and drop every reference the browser and the CPlugin held. The
// call's own reference keeps the object, and the agent it is working on,
// until the call has returned; the last release then frees it here.
bool CScriptablePluginObjectBase::_Invoke(NPObject *npobj, NPIdentifier name, const NPVariant *args, uint32_t argCount,
                                          NPVariant *result)
{
    NPN_RetainObject(npobj);
    const bool bReturned =
        BrowserBoundary(false, [&] { return ObjectOf(npobj)->Invoke(name, args, argCount, result); });
    NPN_ReleaseObject(npobj);
    return bReturned;
}

bool CScriptablePluginObjectBase::_InvokeDefault(NPObject *npobj, const NPVariant *args, uint32_t argCount,
                                                 NPVariant *result)
{
    return BrowserBoundary(false, [&] { return ObjectOf(npobj)->InvokeDefault(args, argCount, result); });
}

bool CScriptablePluginObjectBase::_HasProperty(NPObject *npobj, NPIdentifier name)
{
    return BrowserBoundary(false, [&] { return ObjectOf(npobj)->HasProperty(name); });
}

bool CScriptablePluginObjectBase::_GetProperty(NPObject *npobj, NPIdentifier name, NPVariant *result)
{
    return BrowserBoundary(false, [&] { return ObjectOf(npobj)->GetProperty(name, result); });
}

bool CScriptablePluginObjectBase::_SetProperty(NPObject *npobj, NPIdentifier name, const NPVariant *value)
{
    return BrowserBoundary(false, [&] { return ObjectOf(npobj)->SetProperty(name, value); });
}

bool CScriptablePluginObjectBase::_RemoveProperty(NPObject *npobj, NPIdentifier name)
{
    return BrowserBoundary(false, [&] { return ObjectOf(npobj)->RemoveProperty(name); });
}

bool CScriptablePluginObjectBase::_Enumerate(NPObject *npobj, NPIdentifier **value, uint32_t *count)
{
    return BrowserBoundary(false, [&] { return ObjectOf(npobj)->Enumerate(value, count); });
}

bool CScriptablePluginObjectBase::_Construct(NPObject *npobj, const NPVariant *args, uint32_t argCount,
                                             NPVariant *result)
{
    return BrowserBoundary(false, [&] { return ObjectOf(npobj)->Construct(args, argCount, result); });
}

NPObject *AllocateCScriptableObject(NPP npp, NPClass *)
{
    TRACE_FUNCTION(L"AllocateCScriptableObject");
    return BrowserBoundary(static_cast<NPObject *>(nullptr),
                           [&]() -> NPObject * { return new (std::nothrow) CScriptablePluginObject(npp); });
}

CScriptablePluginObject::CScriptablePluginObject(NPP pNPInstance) : CScriptablePluginObjectBase(pNPInstance)
{
    TRACE_FUNCTION(L"CScriptablePluginObject::CScriptablePluginObject");
}

CScriptablePluginObject::~CScriptablePluginObject()
{
    TRACE_FUNCTION(L"CScriptablePluginObject::~CScriptablePluginObject");
}

bool CScriptablePluginObject::HasMethod(NPIdentifier name)
{
    TRACE_FUNCTION(L"CScriptablePluginObject::HasMethod");
    TraceIdentifier(name);
    for (const AgentOperation &operation : AGENT_OPERATIONS)
        if (IsNamed(name, operation.pszName)) return true;
    TraceErrorReport(kTraceFunction, L"Unknown method name.");
    return false;
}

bool CScriptablePluginObject::Invoke(NPIdentifier name, const NPVariant *args, uint32_t argCount, NPVariant *result)
{
    TRACE_FUNCTION(L"CScriptablePluginObject::Invoke");
    TraceIdentifier(name);
    for (size_t i = 0; i < AGENT_OPERATION_COUNT; ++i)
        if (IsNamed(name, AGENT_OPERATIONS[i].pszName))
            return npRunOperation(static_cast<AgentOperationId>(i), args, argCount, result);
    TraceErrorReport(kTraceFunction, L"Unknown method name.");
    return false;
}

bool CScriptablePluginObject::InvokeDefault(const NPVariant *, uint32_t, NPVariant *result)
{
    TRACE_FUNCTION(L"CScriptablePluginObject::InvokeDefault");
    return SetStringResult(kDefaultMethodResult, result);
}

bool CScriptablePluginObject::HasProperty(NPIdentifier name)
{
    TRACE_FUNCTION(L"CScriptablePluginObject::HasProperty");
    TraceIdentifier(name);
    return false;
}

bool CScriptablePluginObject::GetProperty(NPIdentifier name, NPVariant *)
{
    TRACE_FUNCTION(L"CScriptablePluginObject::GetProperty");
    TraceIdentifier(name);
    return false;
}

bool CScriptablePluginObject::SetProperty(NPIdentifier name, const NPVariant *)
{
    TRACE_FUNCTION(L"CScriptablePluginObject::SetProperty");
    TraceIdentifier(name);
    return false;
}

bool SetStringResult(const char *pszText, NPVariant *result)
{
    if (pszText == nullptr) return false;
    const size_t cchText = strlen(pszText);
    if (cchText >= UINT32_MAX) return false;
    char *pszCopy = static_cast<char *>(NPN_MemAlloc(static_cast<uint32_t>(cchText + 1)));
    if (pszCopy == nullptr) return false;
    memset(pszCopy, 0, cchText + 1);
    memcpy(pszCopy, pszText, cchText);
    STRINGN_TO_NPVARIANT(pszCopy, static_cast<uint32_t>(cchText), *result);
    return true;
}
