// SkfLockHolder DEVICE READY RELEASE MODE: connects to DEVICE through
// KeltoSKF, locks it, signals the event READY and waits for the event
// RELEASE; MODE "unlock" then unlocks and disconnects, "exit" ends the
// process still holding the lock. Exit code 0 when every call succeeded.
#include "SkfExports.h"

#include <windows.h>

#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 5) return 2;
    HMODULE skf = LoadLibraryW(L"KeltoSKF.dll");
    if (!skf) return 3;
    auto connect =
        reinterpret_cast<decltype(&SKF_ConnectDev)>(reinterpret_cast<void*>(GetProcAddress(skf, "SKF_ConnectDev")));
    auto lock = reinterpret_cast<decltype(&SKF_LockDev)>(reinterpret_cast<void*>(GetProcAddress(skf, "SKF_LockDev")));
    auto unlock =
        reinterpret_cast<decltype(&SKF_UnlockDev)>(reinterpret_cast<void*>(GetProcAddress(skf, "SKF_UnlockDev")));
    auto disconnect = reinterpret_cast<decltype(&SKF_DisConnectDev)>(
        reinterpret_cast<void*>(GetProcAddress(skf, "SKF_DisConnectDev")));
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
    if (!connect || !lock || !unlock || !disconnect || !ready || !release) return 4;
    DEVHANDLE dev = nullptr;
    if (connect(argv[1], &dev) != SAR_OK) return 5;
    if (lock(dev, 5000) != SAR_OK) return 6;
    SetEvent(ready);
    if (WaitForSingleObject(release, 30000) != WAIT_OBJECT_0) return 7;
    if (std::strcmp(argv[4], "exit") == 0) ExitProcess(0);
    if (unlock(dev) != SAR_OK) return 8;
    return disconnect(dev) == SAR_OK ? 0 : 9;
}
