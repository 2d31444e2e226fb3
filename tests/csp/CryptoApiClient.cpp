// A CryptoAPI program that ends with its contexts, keys and hashes still
// open, as many programs do; it must exit all the same.
#include <windows.h>
#include <wincrypt.h>

int main()
{
    const ALG_ID sm3 = 0x800F;
    BYTE data[] = "left open";
    for (int i = 0; i < 3; ++i) {
        HCRYPTPROV context = 0;
        HCRYPTKEY key = 0;
        HCRYPTHASH hash = 0;
        if (!CryptAcquireContextA(&context, "Kelto CSP Container", "VESK FOR LORVIN CSP v1.1.0", PROV_RSA_FULL, 0))
            return 2;
        if (!CryptGetUserKey(context, AT_SIGNATURE, &key)) return 3;
        if (!CryptCreateHash(context, sm3, 0, 0, &hash) || !CryptHashData(hash, data, sizeof data, 0)) return 4;
    }
    return 0;
}
