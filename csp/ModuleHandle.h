// The module that holds the provider's code and its dialog templates.
#pragma once

#include <windows.h>

HMODULE CspModuleHandle();
