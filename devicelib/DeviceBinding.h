// Loading the vendor library and taking its function table: the one
// binding both token libraries use.
#pragma once

#include "DeviceTable.h"

#include <windows.h>

namespace devicelib {

// Loads the library and takes its table, initialised for this application.
// On failure nothing stays loaded, both outputs are null, and the last
// error says why the library did not load (0 when it has no table).
bool BindLibrary(HMODULE* library, UK_FUNCTION_LIST** funcs);

// Finalizes the table and unloads the library; both outputs become null.
void UnbindLibrary(HMODULE* library, UK_FUNCTION_LIST** funcs);

} // namespace devicelib
