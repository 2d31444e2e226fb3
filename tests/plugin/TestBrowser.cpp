#include "TestBrowser.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

namespace testbrowser {

namespace {

long g_nAllocations = 0;
long g_nObjects = 0;
bool g_bFailAllocations = false;

// Identifiers are the addresses of their stored names.
std::map<std::string, std::unique_ptr<std::string>> &Identifiers()
{
    static std::map<std::string, std::unique_ptr<std::string>> identifiers;
    return identifiers;
}

void *MemAlloc(uint32_t size)
{
    if (g_bFailAllocations) return nullptr;
    void *p = malloc(size == 0 ? 1 : size);
    if (p != nullptr) ++g_nAllocations;
    return p;
}

void MemFree(void *ptr)
{
    if (ptr != nullptr) --g_nAllocations;
    free(ptr);
}

NPIdentifier GetStringIdentifier(const NPUTF8 *name)
{
    auto &entry = Identifiers()[name];
    if (!entry) entry.reset(new std::string(name));
    return entry.get();
}

NPUTF8 *UTF8FromIdentifier(NPIdentifier identifier)
{
    const std::string *pName = static_cast<const std::string *>(identifier);
    char *pszCopy = static_cast<char *>(MemAlloc(static_cast<uint32_t>(pName->size() + 1)));
    if (pszCopy != nullptr) memcpy(pszCopy, pName->c_str(), pName->size() + 1);
    return pszCopy;
}

NPObject *CreateObject(NPP npp, NPClass *aClass)
{
    NPObject *pObject = aClass->allocate(npp, aClass);
    if (pObject != nullptr) {
        pObject->_class = aClass;
        pObject->referenceCount = 1;
        ++g_nObjects;
    }
    return pObject;
}

NPObject *RetainObject(NPObject *obj)
{
    ++obj->referenceCount;
    return obj;
}

void ReleaseObject(NPObject *obj)
{
    if (--obj->referenceCount != 0) return;
    --g_nObjects;
    obj->_class->deallocate(obj);
}

template <typename T>
FARPROC Proc(HMODULE hModule, const char *pszName, T &fn)
{
    FARPROC p = GetProcAddress(hModule, pszName);
    fn = reinterpret_cast<T>(reinterpret_cast<void *>(p));
    return p;
}

} // namespace

bool PluginLibrary::Load(const wchar_t *pwszPath)
{
    hModule = LoadLibraryW(pwszPath);
    return hModule != nullptr && Proc(hModule, "NP_GetEntryPoints", GetEntryPoints) &&
        Proc(hModule, "NP_Initialize", Initialize) && Proc(hModule, "NP_Shutdown", Shutdown) &&
        Proc(hModule, "NP_GetMIMEDescription", GetMIMEDescription) && Proc(hModule, "NP_Install", Install);
}

NPNetscapeFuncs BrowserFuncs()
{
    NPNetscapeFuncs funcs = {};
    funcs.size = sizeof(funcs);
    funcs.version = 27;
    funcs.memalloc = MemAlloc;
    funcs.memfree = MemFree;
    funcs.getstringidentifier = GetStringIdentifier;
    funcs.utf8fromidentifier = UTF8FromIdentifier;
    funcs.createobject = CreateObject;
    funcs.retainobject = RetainObject;
    funcs.releaseobject = ReleaseObject;
    return funcs;
}

long OutstandingAllocations()
{
    return g_nAllocations;
}

long LiveObjects()
{
    return g_nObjects;
}

void FailAllocations(bool bFail)
{
    g_bFailAllocations = bFail;
}

NPVariant Str(const std::string &text)
{
    // Kept for the life of the test program, as a page keeps its strings.
    static std::vector<std::unique_ptr<std::string>> texts;
    texts.emplace_back(new std::string(text));
    NPVariant v = {};
    STRINGN_TO_NPVARIANT(texts.back()->data(), static_cast<uint32_t>(text.size()), v);
    return v;
}

NPVariant Bool(bool b)
{
    NPVariant v = {};
    BOOLEAN_TO_NPVARIANT(b, v);
    return v;
}

NPVariant Int(int32_t n)
{
    NPVariant v = {};
    v.type = NPVariantType_Int32;
    v.value.intValue = n;
    return v;
}

NPVariant Dbl(double d)
{
    NPVariant v = {};
    v.type = NPVariantType_Double;
    v.value.doubleValue = d;
    return v;
}

NPVariant Null()
{
    NPVariant v = {};
    NULL_TO_NPVARIANT(v);
    return v;
}

NPIdentifier Identifier(const char *pszName)
{
    return GetStringIdentifier(pszName);
}

namespace {

CallResult Outcome(bool bReturned, NPVariant &result)
{
    CallResult call;
    call.bReturned = bReturned;
    call.type = result.type;
    if (result.type == NPVariantType_Bool) call.bValue = result.value.boolValue;
    if (result.type == NPVariantType_String) {
        call.text.assign(result.value.stringValue.UTF8Characters, result.value.stringValue.UTF8Length);
        MemFree(const_cast<NPUTF8 *>(result.value.stringValue.UTF8Characters));
    }
    return call;
}

} // namespace

CallResult Call(NPObject *pObject, const char *pszMethod, const std::vector<NPVariant> &args)
{
    NPVariant result = {};
    result.type = NPVariantType_Void;
    bool bReturned = pObject->_class->invoke(pObject, Identifier(pszMethod), args.data(),
                                             static_cast<uint32_t>(args.size()), &result);
    return Outcome(bReturned, result);
}

CallResult CallDefault(NPObject *pObject)
{
    NPVariant result = {};
    result.type = NPVariantType_Void;
    return Outcome(pObject->_class->invokeDefault(pObject, nullptr, 0, &result), result);
}

} // namespace testbrowser
