// The object page script calls: the signing agent's operations as eight
// script methods, with no properties.
#pragma once

#include "AgentOperations.h"
#include "NPAPI.h"

// The browser holds the NPObject part; the class's static functions find
// the object from it and call the operation of the same name.
class CScriptablePluginObjectBase : public NPObject {
public:
    explicit CScriptablePluginObjectBase(NPP pNPInstance) : m_pNPInstance(pNPInstance) { }
    virtual ~CScriptablePluginObjectBase() = default;
    CScriptablePluginObjectBase(const CScriptablePluginObjectBase &) = delete;
    CScriptablePluginObjectBase &operator=(const CScriptablePluginObjectBase &) = delete;

    virtual void Invalidate() { }
    virtual bool HasMethod(NPIdentifier) { return false; }
    virtual bool Invoke(NPIdentifier, const NPVariant *, uint32_t, NPVariant *) { return false; }
    virtual bool InvokeDefault(const NPVariant *, uint32_t, NPVariant *) { return false; }
    virtual bool HasProperty(NPIdentifier) { return false; }
    virtual bool GetProperty(NPIdentifier, NPVariant *) { return false; }
    virtual bool SetProperty(NPIdentifier, const NPVariant *) { return false; }
    virtual bool RemoveProperty(NPIdentifier) { return false; }
    virtual bool Enumerate(NPIdentifier **, uint32_t *) { return false; }
    virtual bool Construct(const NPVariant *, uint32_t, NPVariant *) { return false; }

    static void _Deallocate(NPObject *npobj);
    static void _Invalidate(NPObject *npobj);
    static bool _HasMethod(NPObject *npobj, NPIdentifier name);
    static bool _Invoke(NPObject *npobj, NPIdentifier name, const NPVariant *args, uint32_t argCount,
                        NPVariant *result);
    static bool _InvokeDefault(NPObject *npobj, const NPVariant *args, uint32_t argCount, NPVariant *result);
    static bool _HasProperty(NPObject *npobj, NPIdentifier name);
    static bool _GetProperty(NPObject *npobj, NPIdentifier name, NPVariant *result);
    static bool _SetProperty(NPObject *npobj, NPIdentifier name, const NPVariant *value);
    static bool _RemoveProperty(NPObject *npobj, NPIdentifier name);
    static bool _Enumerate(NPObject *npobj, NPIdentifier **value, uint32_t *count);
    static bool _Construct(NPObject *npobj, const NPVariant *args, uint32_t argCount, NPVariant *result);

protected:
    NPP m_pNPInstance;
};

class CScriptablePluginObject : public CScriptablePluginObjectBase {
public:
    explicit CScriptablePluginObject(NPP pNPInstance);
    ~CScriptablePluginObject() override;

    bool HasMethod(NPIdentifier name) override;
    bool Invoke(NPIdentifier name, const NPVariant *args, uint32_t argCount, NPVariant *result) override;
    bool InvokeDefault(const NPVariant *args, uint32_t argCount, NPVariant *result) override;
    bool HasProperty(NPIdentifier name) override;
    bool GetProperty(NPIdentifier name, NPVariant *result) override;
    bool SetProperty(NPIdentifier name, const NPVariant *value) override;

    static NPClass s_npClass;

private:
    // One of the agent's operations, from the plug-in's operation table.
    bool npRunOperation(AgentOperationId id, const NPVariant *args, uint32_t argCount, NPVariant *result);

    CCryptoAgent m_objCryptoAgent;
};

NPObject *AllocateCScriptableObject(NPP npp, NPClass *aClass);

// Result of a string-returning method: a copy of the text in the
// browser's memory. False, the result untouched, for no text or memory.
bool SetStringResult(const char *pszText, NPVariant *result);
