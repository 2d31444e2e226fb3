// The device-event monitor: a hidden window on its own thread receives
// token arrivals and removals and wakes the caller waiting for one.
#pragma once

#include "SkfDefs.h"

constexpr ULONG DEV_EVENT_CANCEL = 0;
constexpr ULONG DEV_EVENT_INSERT = 1;
constexpr ULONG DEV_EVENT_REMOVE = 2;
constexpr ULONG kDevEventWaitFailed = 0xFFFFFFFF;

// Starts the monitor when it is not running, then blocks until a token
// arrives or leaves or the wait is cancelled. *pulDevNameLen holds the
// room of szDevName on entry and the name's length with its NUL on return;
// a name that does not fit gives SAR_BUFFER_TOO_SMALL and leaves its event
// pending.
ULONG Dev_WaitForEvent(char* szDevName, ULONG* pulDevNameLen, ULONG* pulEvent);
// Wakes every pending waiter with the cancel event and ends the monitor; a
// later wait starts a new one.
void StopDevMonitor();
// The same from DllMain: it only signals and posts.
void StopDevMonitorAtDetach();
