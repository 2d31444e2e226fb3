// SkfLockHolder DEVICE READY RELEASE MODE: connects to DEVICE through
// KeltoSKF, locks it, signals the event READY and waits for the event
// RELEASE; MODE "unlock" then unlocks and disconnects, "exit" ends the
// process still holding the lock. Exit code 0 when every call succeeded.
// MODE "rounds" instead signs with the key of the container "sm2 keys" on
// a library loaded afresh, round after round; exit code 5 when handles or
// private memory grew after the warm-up.
#include "../ProcessUsage.h"
#include "SkfExports.h"
#include "SkfKeyExports.h"

#include <windows.h>

#include <cstring>

#define EXPORT(name) reinterpret_cast<decltype(&name)>(reinterpret_cast<void*>(GetProcAddress(skf, #name)))

namespace {

bool SignedOnFreshLibrary(char* device)
{
    HMODULE skf = LoadLibraryW(L"KeltoSKF.dll");
    DEVHANDLE dev = nullptr;
    HCONTAINER con = nullptr;
    ULONG retry = 0;
    BYTE digest[32] = {};
    ECCSIGNATUREBLOB signature;
    bool ok = skf && EXPORT(SKF_ConnectDev)(device, &dev) == SAR_OK &&
        EXPORT(SKF_VerifyPIN)(dev, USER_TYPE, const_cast<char*>("12345678"), &retry) == SAR_OK &&
        EXPORT(SKF_OpenContainer)(dev, const_cast<char*>("sm2 keys"), &con) == SAR_OK &&
        EXPORT(SKF_ECCSignData)(con, digest, sizeof digest, &signature) == SAR_OK &&
        EXPORT(SKF_CloseContainer)(con) == SAR_OK && EXPORT(SKF_DisConnectDev)(dev) == SAR_OK;
    return skf && FreeLibrary(skf) && ok;
}

int RoundsLeaveNothing(char* device)
{
    testusage::Usage warm {};
    for (int round = 1; round <= 220; ++round) {
        if (!SignedOnFreshLibrary(device)) return 2;
        if (round == 20) warm = testusage::Now();
    }
    return testusage::StayedFlat(warm, testusage::Now()) ? 0 : 5;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) return 2;
    if (std::strcmp(argv[4], "rounds") == 0) return RoundsLeaveNothing(argv[1]);
    HMODULE skf = LoadLibraryW(L"KeltoSKF.dll");
    if (!skf) return 3;
    auto connect = EXPORT(SKF_ConnectDev);
    auto lock = EXPORT(SKF_LockDev);
    auto unlock = EXPORT(SKF_UnlockDev);
    auto disconnect = EXPORT(SKF_DisConnectDev);
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
