// A CryptoAPI program that loads nothing but advapi32 (and user32 for rounds).
//   CryptoApiClient                 ends with its contexts, keys and hashes
//                                   still open, as many programs do; it must
//                                   exit all the same
//   CryptoApiClient missing         exits with the error of acquiring a
//                                   container that does not exist
//   CryptoApiClient silent-delete   exits with the error of deleting the
//                                   container without a prompt
//   CryptoApiClient rounds          signs round after round on a provider
//                                   loaded afresh; exits 5 when handles or
//                                   private memory grew after the warm-up
#include "../ProcessUsage.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>

namespace {

constexpr char kContainer[] = "Kelto CSP Container";
constexpr char kProvider[] = "VESK FOR LORVIN CSP v1.1.0";

int LeaveHandlesOpen()
{
    const ALG_ID sm3 = 0x800F;
    BYTE data[] = "left open";
    for (int i = 0; i < 3; ++i) {
        HCRYPTPROV context = 0;
        HCRYPTKEY key = 0;
        HCRYPTHASH hash = 0;
        if (!CryptAcquireContextA(&context, kContainer, kProvider, PROV_RSA_FULL, 0)) return 2;
        if (!CryptGetUserKey(context, AT_SIGNATURE, &key)) return 3;
        if (!CryptCreateHash(context, sm3, 0, 0, &hash) || !CryptHashData(hash, data, sizeof data, 0)) return 4;
    }
    return 0;
}

int FirstAcquireError(const char* container, DWORD flags)
{
    HCRYPTPROV context = 0;
    if (CryptAcquireContextA(&context, container, kProvider, PROV_RSA_FULL, flags)) return 0;
    return static_cast<int>(GetLastError());
}

// The removal watch keeps the provider loaded after the last release: its
// window is closed, and the provider must go.
bool SignedOnFreshProvider()
{
    HCRYPTPROV context = 0, sm2 = 0;
    HCRYPTHASH hash = 0, sm3 = 0;
    BYTE value[36] = "round after round", signature[128];
    DWORD length = sizeof signature;
    if (!CryptAcquireContextA(&context, kContainer, kProvider, PROV_RSA_FULL, CRYPT_SILENT)) return false;
    // An SSL3 SHAMD5 value signs with the PIN the context holds, unprompted;
    // an SM3 hash on an SM2 key starts with the key's Z.
    bool ok = CryptSetProvParam(context, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE*>("12345678"), 0) &&
        CryptCreateHash(context, CALG_SSL3_SHAMD5, 0, 0, &hash) && CryptSetHashParam(hash, HP_HASHVAL, value, 0) &&
        CryptSignHashA(hash, AT_SIGNATURE, nullptr, 0, signature, &length) &&
        CryptAcquireContextA(&sm2, "sm2 keys", kProvider, PROV_RSA_FULL, CRYPT_SILENT) &&
        CryptCreateHash(sm2, 0x800F, 0, 0, &sm3) && CryptHashData(sm3, value, sizeof value, 0);
    ok = CryptDestroyHash(sm3) && CryptReleaseContext(sm2, 0) && ok;
    ok = CryptDestroyHash(hash) && CryptReleaseContext(context, 0) && ok;
    for (int wait = 0; wait < 2000 && GetModuleHandleW(L"KeltoCSP.dll"); ++wait, Sleep(1))
        for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, MAKEINTATOM(0x8002), nullptr));) {
            DWORD process = 0;
            GetWindowThreadProcessId(w, &process);
            if (process == GetCurrentProcessId()) PostMessageW(w, WM_CLOSE, 0, 0);
        }
    return ok && !GetModuleHandleW(L"KeltoCSP.dll");
}

int RoundsLeaveNothing()
{
    testusage::Usage usage[2] = {};
    for (int round = 1; round <= 220; ++round) {
        if (!SignedOnFreshProvider()) return 2;
        if (round % 200 != 20) continue;
        // After the warm-up and at the end, once the watch thread's stack
        // has gone after the provider.
        Sleep(100);
        usage[round / 200] = testusage::Now();
    }
    return testusage::StayedFlat(usage[0], usage[1]) ? 0 : 5;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "missing") == 0) return FirstAcquireError("no such container", 0);
    if (argc > 1 && std::strcmp(argv[1], "silent-delete") == 0)
        return FirstAcquireError(kContainer, CRYPT_DELETEKEYSET | CRYPT_SILENT);
    if (argc > 1 && std::strcmp(argv[1], "rounds") == 0) return RoundsLeaveNothing();
    return LeaveHandlesOpen();
}
