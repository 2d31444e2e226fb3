// Process-wide state of the plug-in: its module, the browser's table and
// the scriptable class, written only while the browser loads it.
#pragma once

#include "NPAPI.h"

#include <windows.h>

// The module whose resources the plug-in reads; kept by DllMain.
extern HINSTANCE g_hPluginInstance;

// The plug-in's copy of the browser's table, filled by NP_Initialize.
extern NPNetscapeFuncs g_stBrowserFuncs;

// The scriptable object's class; null until NP_GetEntryPoints.
extern NPClass *g_pScriptableClass;
