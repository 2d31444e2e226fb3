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
#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <vector>

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

// Wine's GetProcessHandleCount and PrivateUsage are stubs that give 0: the
// handles are counted in the system's list, the memory region by region.
DWORD HandleCount()
{
    auto query = reinterpret_cast<LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<ULONG_PTR> list(1 << 16);
    ULONG length = 0;
    while (query(64, list.data(), static_cast<ULONG>(list.size() * sizeof list[0]), &length) ==
           static_cast<LONG>(0xC0000004)) // too short
        list.resize(list.size() * 2);
    // A count, a reserved word, then per handle its object, process id,
    // value and 16 bytes more.
    DWORD count = 0;
    for (ULONG_PTR i = 0; i < list[0]; ++i)
        count += list[2 + i * (3 + 16 / sizeof list[0]) + 1] == GetCurrentProcessId();
    return count;
}

SIZE_T PrivateBytes()
{
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION r;
    for (const char* at = nullptr; VirtualQuery(at, &r, sizeof r) && at + r.RegionSize > at; at += r.RegionSize)
        if (r.State == MEM_COMMIT && r.Type == MEM_PRIVATE) total += r.RegionSize;
    return total;
}

int RoundsLeaveNothing()
{
    DWORD handles[2] = {};
    SIZE_T memory[2] = {};
    for (int round = 1; round <= 220; ++round) {
        if (!SignedOnFreshProvider()) return 2;
        if (round % 200 != 20) continue;
        // After the warm-up and at the end, once the watch thread's stack
        // has gone after the provider.
        Sleep(100);
        handles[round / 200] = HandleCount();
        memory[round / 200] = PrivateBytes();
    }
    bool flat = handles[0] && handles[1] <= handles[0] + handles[0] / 20 + 1 && memory[1] <= memory[0] + memory[0] / 25;
    return flat ? 0 : 5;
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
