// Exports beyond the fixture's table, resolved by name from the loaded
// library.
#pragma once

#include "SkfFixture.h"

namespace skftest {

template <class Function>
Function ExportOf(Function, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(Skf().module, name)));
}

#define SKF_EXPORT(name) ::skftest::ExportOf(&::name, #name)

} // namespace skftest
