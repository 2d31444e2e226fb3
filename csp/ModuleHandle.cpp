#include "ModuleHandle.h"

HMODULE CspModuleHandle()
{
    // Asked of the code's own address, so the templates are found in
    // whichever image this code was linked into.
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&CspModuleHandle), &module);
    return module;
}
