// With the system generator failing, nothing that needs random goes on
// with unseeded bytes.
#include <vector>

#include <gtest/gtest.h>

#include "OpenSslRsa.h"
#include "tokencrypto/RandomPool.h"
#include "tokencrypto/Rsa.h"
#include "tokencrypto/Sm2.h"

namespace {

using namespace tokencrypto;

TEST(FailingSystemRandom, EveryConsumerStopsWithAnError)
{
    EXPECT_EQ(nullptr, RC4_NewFromSystemRandom());

    uint32_t k[8];
    EXPECT_EQ(SM2_ERR_RANDOM, SM2_RandomK(k));
    Sm2PrivateKey privateKey {256, {}};
    privateKey.d[31] = 5;
    uint8_t e[32] = {}, signature[64];
    uint32_t length = 0;
    EXPECT_EQ(SM2_ERR_RANDOM, SM2_Sign(&privateKey, e, signature, &length));
    // 5 G, a valid public key.
    const Sm2PublicKey publicKey {
        256,
        {0xC7, 0x49, 0x06, 0x16, 0x68, 0x65, 0x2E, 0x26, 0x04, 0x0E, 0x00, 0x8F, 0xDD, 0x5E, 0xB7, 0x7A,
         0x34, 0x4A, 0x41, 0x7B, 0x7F, 0xCE, 0x19, 0xDB, 0xA5, 0x75, 0xDA, 0x57, 0xCC, 0x37, 0x2A, 0x9E},
        {0xF2, 0xDF, 0x5D, 0xB2, 0xD1, 0x44, 0xE9, 0x45, 0x45, 0x04, 0xC6, 0x22, 0xB5, 0x1C, 0xF3, 0x8F,
         0x50, 0x06, 0x20, 0x6E, 0xB5, 0x79, 0xFF, 0x7D, 0xA6, 0x97, 0x6E, 0xFF, 0x5F, 0xBE, 0x64, 0x80}};
    uint8_t message[1] = {1}, cipher[98];
    EXPECT_EQ(SM2_ERR_RANDOM, SM2_Enc(&publicKey, message, 1, cipher, &length, 98));

    RsaPublicKey rsaPublic;
    RsaPrivateKey rsaPrivate;
    EXPECT_EQ(RSA_ERR_NEED_RANDOM, RSA_GenerateKey(1024, &rsaPublic, &rsaPrivate));
    // The private operation draws its blinding value.
    const tokencrypto_test::OpenSslRsaKey key(1024);
    const RsaPrivateKey record = key.PrivateRecord();
    std::vector<uint8_t> input(128, 0x11), output(128);
    EXPECT_EQ(RSA_ERR_NEED_RANDOM, soft_RSA_PrivateDecrypt(output.data(), &length, input.data(), 128, &record));
}

} // namespace
