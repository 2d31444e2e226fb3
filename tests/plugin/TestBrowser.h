// A small browser for the plug-in: loads npSigwell.dll, hands it a
// function table of its own (allocator, identifiers, objects) and calls
// the scriptable object the way page script does.
#pragma once

#include "NPAPI.h"

#include <windows.h>

#include <string>
#include <vector>

namespace testbrowser {

typedef NPError(WINAPI *GetEntryPointsFn)(NPPluginFuncs *);
typedef NPError(WINAPI *InitializeFn)(NPNetscapeFuncs *);
typedef NPError(WINAPI *ShutdownFn)();
typedef const char *(*GetMIMEDescriptionFn)();
typedef HRESULT (*InstallFn)();

// The library and its five exports.
struct PluginLibrary {
    HMODULE hModule = nullptr;
    GetEntryPointsFn GetEntryPoints = nullptr;
    InitializeFn Initialize = nullptr;
    ShutdownFn Shutdown = nullptr;
    GetMIMEDescriptionFn GetMIMEDescription = nullptr;
    InstallFn Install = nullptr;

    bool Load(const wchar_t *pwszPath);
};

// The browser's table with every entry the plug-in may call.
NPNetscapeFuncs BrowserFuncs();

// Allocations made through the table and not yet freed.
long OutstandingAllocations();
// Objects created through the table and not yet deallocated.
long LiveObjects();
// The next allocations through the table fail while set.
void FailAllocations(bool bFail);

// Script values: strings with explicit lengths, so they may hold NULs.
NPVariant Str(const std::string &text);
NPVariant Bool(bool b);
NPVariant Int(int32_t n);
NPVariant Dbl(double d);
NPVariant Null();

// A call's outcome as script sees it; a string result is copied out and
// given back to the browser's allocator.
struct CallResult {
    bool bReturned = false;
    NPVariantType type = NPVariantType_Void;
    bool bValue = false;
    std::string text;
    bool IsNull() const { return type == NPVariantType_Null; }
    bool IsBool(bool b) const { return type == NPVariantType_Bool && bValue == b; }
    bool IsText(const std::string &expected) const { return type == NPVariantType_String && text == expected; }
};

NPIdentifier Identifier(const char *pszName);
// The result starts as void; a call that leaves it so did not touch it.
CallResult Call(NPObject *pObject, const char *pszMethod, const std::vector<NPVariant> &args);
CallResult CallDefault(NPObject *pObject);

} // namespace testbrowser
