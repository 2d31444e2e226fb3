// Runs each private-key operation with its secrets marked undefined for
// valgrind's memcheck, which reports every branch and memory address that
// depends on them; CTest runs it under memcheck with errors failing the run.
// The library is built with its declassification of public results on.
#include <cstdio>
#include <cstring>
#include <vector>

#include <valgrind/memcheck.h>

#include "OpenSslRsa.h"
#include "OpenSslSm2.h"
#include "tokencrypto/BigNumber.h"
#include "tokencrypto/Rsa.h"
#include "tokencrypto/RsaKeyFromPrimes.h"
#include "tokencrypto/RsaPrimeTest.h"
#include "tokencrypto/Sm2.h"
#include "tokencrypto/Sm2Scheme.h"

namespace {

using namespace tokencrypto;

int failures = 0;

void Expect(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

void Secret(const void* data, size_t length)
{
    (void)VALGRIND_MAKE_MEM_UNDEFINED(data, length);
}
void Public(const void* data, size_t length)
{
    (void)VALGRIND_MAKE_MEM_DEFINED(data, length);
}

// A k that the check treats as secret from the moment it is drawn.
bool SecretScalar(uint8_t k[32])
{
    for (unsigned i = 0; i < 32; ++i) k[i] = uint8_t(0x3C + 7 * i);
    Secret(k, 32);
    return true;
}

void CheckSm2()
{
    const sm2::Curve& curve = sm2::RecommendedCurve();
    tokencrypto_test::OpenSslKey key;
    uint8_t d[32], e[32], signature[64];
    std::memcpy(d, key.d, 32);
    std::memset(e, 0xA5, sizeof e);
    Secret(d, sizeof d);
    Expect(sm2::Scheme_Sign(curve, d, e, SecretScalar, signature) == SM2_OK, "SM2 sign");
    Expect(sm2::Scheme_Verify(curve, key.x, key.y, e, signature) == SM2_OK, "SM2 signature verifies");

    const uint8_t message[20] = "constant time check";
    uint8_t cipher[sizeof message + SM2_CIPHER_OVERHEAD], plain[sizeof message];
    Expect(sm2::Scheme_Encrypt(curve, key.x, key.y, message, sizeof message, SecretScalar, cipher) == SM2_OK,
           "SM2 encrypt");
    Public(cipher, sizeof cipher);
    Expect(sm2::Scheme_Decrypt(curve, d, cipher, sizeof cipher, plain, sizeof plain) == SM2_OK, "SM2 decrypt");
    Public(plain, sizeof plain);
    Expect(std::memcmp(plain, message, sizeof message) == 0, "SM2 round trip");
}

void CheckRsa()
{
    tokencrypto_test::OpenSslRsaKey key(2048);
    RsaPrivateKey record = key.PrivateRecord();
    const RsaPublicKey publicRecord = key.PublicRecord();
    Secret(record.exponent, sizeof record.exponent);
    Secret(record.prime, sizeof record.prime);
    Secret(record.primeExponent, sizeof record.primeExponent);
    Secret(record.coefficient, sizeof record.coefficient);
    std::vector<uint8_t> input(256, 0x5A), output(256), back(256);
    input[0] = 0x01;
    uint32_t length = 0;
    Expect(soft_RSA_PrivateDecrypt(output.data(), &length, input.data(), 256, &record) == RSA_OK, "RSA private");
    Expect(soft_RSA_PublicEncrypt(back.data(), &length, output.data(), 256, &publicRecord) == RSA_OK && back == input,
           "RSA private undone by public");
}

// Key generation from the moment a candidate is kept: the prime test it
// passed (trial division, Fermat, Miller-Rabin) and the key made from the
// two primes, handed in q first.
void CheckRsaKeyGeneration()
{
    tokencrypto_test::OpenSslRsaKey key(2048);
    const RsaPrivateKey reference = key.PrivateRecord();
    uint32_t p[33] = {}, q[33] = {};
    BigNum_Decode(p, 32, reference.prime[0], RSA_MAX_PRIME_LEN);
    BigNum_Decode(q, 32, reference.prime[1], RSA_MAX_PRIME_LEN);
    Secret(p, sizeof p);
    Secret(q, sizeof q);
    RandomPool pool = {};
    const uint8_t seed[16] = {7};
    RandomPool_Update(&pool, seed);
    bool passes = false;
    Expect(RsaPrime_Test(&passes, p, 32, &pool) == RSA_OK && passes, "prime test of a prime");

    RsaPublicKey publicRecord;
    RsaPrivateKey record;
    RsaKey_FromPrimes(&publicRecord, &record, q, p, 32, 2048, 65537);
    Public(&publicRecord, sizeof publicRecord);
    Expect(std::memcmp(publicRecord.modulus, reference.modulus, RSA_MAX_MODULUS_LEN) == 0, "modulus of the made key");
    std::vector<uint8_t> input(256, 0x3C), output(256), back(256);
    uint32_t length = 0;
    Expect(soft_RSA_PrivateDecrypt(output.data(), &length, input.data(), 256, &record) == RSA_OK, "made key private");
    Expect(soft_RSA_PublicEncrypt(back.data(), &length, output.data(), 256, &publicRecord) == RSA_OK && back == input,
           "made key undone by public");
}

} // namespace

int main()
{
    if (!RUNNING_ON_VALGRIND) std::fprintf(stderr, "not under valgrind: only the results are checked\n");
    CheckSm2();
    CheckRsa();
    CheckRsaKeyGeneration();
    std::printf("%s\n", failures == 0 ? "constant-time check passed" : "constant-time check FAILED");
    return failures == 0 ? 0 : 1;
}
