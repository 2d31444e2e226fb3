// Process-wide values of the native-messaging host, set once by wmain.
#pragma once

#include <windows.h>

class CCryptoAgent;

extern HINSTANCE g_hInstance;
extern CCryptoAgent *g_pobjCryptoAgent;

// Reads framed requests from standard input and answers them on standard
// output until the browser ends the conversation: 0, or the failure code
// of the step that stopped the loop.
int MsgHandleProc();
