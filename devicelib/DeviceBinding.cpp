#include "DeviceBinding.h"

namespace devicelib {

namespace {

UK_FUNCTION_LIST* TakeFunctionList(HMODULE library)
{
    auto getList =
        reinterpret_cast<PFN_ukGetFunctionList>(reinterpret_cast<void*>(GetProcAddress(library, kGetFunctionListName)));
    UK_FUNCTION_LIST* list = nullptr;
    if (getList) getList(&list);
    if (list) list->Initialize(kApplicationId);
    return list;
}

} // namespace

bool BindLibrary(HMODULE* library, UK_FUNCTION_LIST** funcs)
{
    *funcs = nullptr;
    *library = LoadLibraryW(kLibraryNameW);
    if (!*library) return false;
    *funcs = TakeFunctionList(*library);
    if (*funcs) return true;
    FreeLibrary(*library);
    *library = nullptr;
    SetLastError(0);
    return false;
}

void UnbindLibrary(HMODULE* library, UK_FUNCTION_LIST** funcs)
{
    if (*funcs) (*funcs)->Finalize(nullptr);
    *funcs = nullptr;
    if (*library) FreeLibrary(*library);
    *library = nullptr;
}

} // namespace devicelib
