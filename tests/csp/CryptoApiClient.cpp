// A CryptoAPI program that loads nothing but advapi32.
//   CryptoApiClient                 ends with its contexts, keys and hashes
//                                   still open, as many programs do; it must
//                                   exit all the same
//   CryptoApiClient missing         exits with the error of acquiring a
//                                   container that does not exist
//   CryptoApiClient silent-delete   exits with the error of deleting the
//                                   container without a prompt
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

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "missing") == 0) return FirstAcquireError("no such container", 0);
    if (argc > 1 && std::strcmp(argv[1], "silent-delete") == 0)
        return FirstAcquireError(kContainer, CRYPT_DELETEKEYSET | CRYPT_SILENT);
    return LeaveHandlesOpen();
}
