// Key pairs and session keys over simulated tokens.
#include "ProviderFixture.h"

#include "CertificateWrite.h"
#include "KeyObject.h"
#include "TokenKeys.h"
#include "TokenSymKey.h"
#include "UserPin.h"

#include <atomic>
#include <string>
#include <thread>

namespace {

using csptest::ContextOf;
using tokentest::AddToken;

class Keys : public csptest::ProviderFixture {
protected:
    void SetUp() override
    {
        ProviderFixture::SetUp();
        AddToken("A");
    }
    // The public half the token holds for the container key.
    tokensim::KeyPair StoredKey(const KeyObject& key)
    {
        tokensim::StateLock lock;
        tokensim::State state;
        EXPECT_TRUE(lock.Load(state));
        tokensim::KeyPair* pair = state.tokens.at(0).FindKey(key.key[kKeyIdPublic + 1]);
        return pair ? *pair : tokensim::KeyPair();
    }
};

struct PairCase {
    ALG_ID algId;
    DWORD flags;
    std::uint32_t bits;
    ALG_ID ownAlg;
};

class KeyPairs : public Keys, public ::testing::WithParamInterface<PairCase> { };

TEST_P(KeyPairs, GeneratedOnTheTokenAndReadBack)
{
    HCRYPTPROV context = NewContainer("pair");
    HCRYPTKEY key = 0;
    ASSERT_EQ(GenKeyImpl(context, GetParam().algId, GetParam().flags, &key), 0u);
    bool signature = IsSignatureAlg(GetParam().ownAlg);
    const KeyObject& own = signature ? ContextOf(context)->signatureKey : ContextOf(context)->exchangeKey;
    EXPECT_EQ(own.algId, GetParam().ownAlg);
    EXPECT_EQ(own.keyLen * 8, GetParam().bits);
    EXPECT_EQ(ContextOf(context)->newKeySetState, std::uint32_t(NEWKEYSET_KEY_GENERATED));

    DWORD value = 0, length = sizeof value;
    ASSERT_EQ(GetKeyParamImpl(context, key, KP_KEYLEN, reinterpret_cast<BYTE*>(&value), &length), 0u);
    EXPECT_EQ(value, GetParam().bits);

    std::uint8_t exported[512] = {};
    ASSERT_EQ(Token_ExportPublicKey(&ContextOf(context)->session, &own, exported), 0u);
    tokensim::KeyPair stored = StoredKey(own);
    ASSERT_EQ(stored.publicPart.size(), 2u);
    EXPECT_EQ(stored.bits, GetParam().bits);
    EXPECT_EQ(std::memcmp(exported, stored.publicPart[0].data(), stored.publicPart[0].size()), 0);
    if (IsSm2Alg(own.algId)) {
        EXPECT_EQ(std::memcmp(exported + 32, stored.publicPart[1].data(), 32), 0);
    }

    // A later context on the container sees the size the record now holds.
    Release(context);
    HCRYPTPROV reopened = 0;
    ASSERT_EQ(Acquire(&reopened, "pair", 0), 0u);
    HCRYPTKEY user = 0;
    ASSERT_EQ(GetUserKeyImpl(reopened, signature ? AT_SIGNATURE : AT_KEYEXCHANGE, &user), 0u);
    EXPECT_EQ(LookupKeyObject(user)->keyLen * 8, GetParam().bits);
    EXPECT_EQ(DestroyKeyImpl(reopened, user), 0u);
}

INSTANTIATE_TEST_SUITE_P(Algorithms, KeyPairs,
                         ::testing::Values(PairCase {AT_SIGNATURE, 0, 1024, CALG_RSA_SIGN},
                                           PairCase {CALG_RSA_KEYX, 2048u << 16, 2048, CALG_RSA_KEYX},
                                           PairCase {AT_KEYEXCHANGE, 1024u << 16, 1024, CALG_RSA_KEYX},
                                           PairCase {kAlgSm2Sign, 0, 256, kAlgSm2Sign},
                                           PairCase {kAlgSm2Keyx, 0, 256, kAlgSm2Keyx}));

TEST_F(Keys, RsaSizesOtherThan1024And2048AreRefused)
{
    HCRYPTPROV context = NewContainer("rsa");
    HCRYPTKEY key = 0;
    for (DWORD bits : {512u, 1536u, 4096u})
        EXPECT_EQ(GenKeyImpl(context, AT_SIGNATURE, bits << 16, &key), DWORD(NTE_BAD_FLAGS)) << bits;
    EXPECT_EQ(ContextOf(context)->signatureKey.keyLen, 0u);
}

TEST_F(Keys, ContainerKeepsOneAlgorithm)
{
    HCRYPTPROV context = NewContainer("sm2");
    HCRYPTKEY key = 0;
    ASSERT_EQ(GenKeyImpl(context, kAlgSm2Sign, 0, &key), 0u);
    EXPECT_EQ(GenKeyImpl(context, AT_SIGNATURE, 0, &key), 8611u);
    HCRYPTPROV rsa = NewContainer("rsa");
    ASSERT_EQ(GenKeyImpl(rsa, AT_KEYEXCHANGE, 0, &key), 0u);
    EXPECT_EQ(GenKeyImpl(rsa, kAlgSm2Keyx, 0, &key), 8611u);
}

TEST_F(Keys, ContextWithoutContainerChangesNothingOnTheToken)
{
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, nullptr, 0), 0u);
    ASSERT_EQ(SetProvParamImpl(context, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE*>(csptest::kUserPin)), 0u);
    HCRYPTKEY key = 0;
    EXPECT_EQ(GenKeyImpl(context, AT_SIGNATURE, 0, &key), DWORD(NTE_BAD_KEYSET));
    EXPECT_EQ(GenKeyImpl(context, kAlgSm2Sign, 0, &key), DWORD(NTE_BAD_KEYSET));
    EXPECT_EQ(GetUserKeyImpl(context, AT_SIGNATURE, &key), DWORD(NTE_NO_KEY));
    EXPECT_EQ(GetUserKeyImpl(context, 3, &key), DWORD(NTE_BAD_KEY));
}

TEST_F(Keys, TokenCipherRefusesAnotherAlgorithmAsBadType)
{
    HCRYPTPROV context = NewContainer("sym");
    KeyObject* rc4 = NewSessionKeyObject();
    ASSERT_NE(rc4, nullptr);
    rc4->algId = CALG_RC4;
    rc4->keyLen = 16;
    EXPECT_EQ(Token_SymKeyInit(&ContextOf(context)->session, rc4, true), DWORD(NTE_BAD_TYPE));
    EXPECT_EQ(rc4->operation, 0u);
    FreeObject(rc4);
}

TEST_F(Keys, Rc4SizeComesFromTheHighWord)
{
    HCRYPTPROV context = NewContainer("rc4");
    struct {
        DWORD bits;
        DWORD expected;
    } cases[] = {
        {0, 0}, {40, 0}, {128, 0}, {129, DWORD(NTE_BAD_FLAGS)}, {32, DWORD(NTE_BAD_FLAGS)}, {44, DWORD(NTE_BAD_FLAGS)}};
    for (const auto& c : cases) {
        HCRYPTKEY key = 0;
        EXPECT_EQ(GenKeyImpl(context, CALG_RC4, c.bits << 16, &key), c.expected) << c.bits;
        if (c.expected) continue;
        DWORD bits = 0, length = sizeof bits;
        ASSERT_EQ(GetKeyParamImpl(context, key, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &length), 0u);
        EXPECT_EQ(bits, c.bits ? c.bits : 128u);
        EXPECT_EQ(DestroyKeyImpl(context, key), 0u);
    }
}

TEST_F(Keys, IvOnlyInCbcAndEveryParameterAnswersItsSize)
{
    HCRYPTPROV context = NewContainer("des");
    HCRYPTKEY key = 0;
    ASSERT_EQ(GenKeyImpl(context, CALG_AES_128, 0, &key), 0u);
    BYTE iv[16];
    DWORD length = sizeof iv;
    EXPECT_EQ(GetKeyParamImpl(context, key, KP_IV, iv, &length), DWORD(NTE_BAD_FLAGS));
    const BYTE newIv[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ASSERT_EQ(SetKeyParamImpl(context, key, KP_IV, newIv, 0), 0u);
    length = 0;
    ASSERT_EQ(GetKeyParamImpl(context, key, KP_IV, nullptr, &length), 0u);
    EXPECT_EQ(length, 16u);
    length = 8;
    EXPECT_EQ(GetKeyParamImpl(context, key, KP_IV, iv, &length), DWORD(NTE_BUFFER_TOO_SMALL));
    EXPECT_EQ(length, 16u);
    ASSERT_EQ(GetKeyParamImpl(context, key, KP_IV, iv, &length), 0u);
    EXPECT_EQ(std::memcmp(iv, newIv, 16), 0);

    DWORD mode = 3;
    EXPECT_EQ(SetKeyParamImpl(context, key, KP_MODE, reinterpret_cast<BYTE*>(&mode), 0), DWORD(NTE_BAD_TYPE));
    DWORD padding = 5;
    EXPECT_EQ(SetKeyParamImpl(context, key, KP_PADDING, reinterpret_cast<BYTE*>(&padding), 0), DWORD(NTE_BAD_DATA));
    EXPECT_EQ(SetKeyParamImpl(context, key, KP_IV, newIv, 1), DWORD(NTE_BAD_FLAGS));
    DWORD block = 0;
    length = sizeof block;
    ASSERT_EQ(GetKeyParamImpl(context, key, KP_BLOCKLEN, reinterpret_cast<BYTE*>(&block), &length), 0u);
    EXPECT_EQ(block, 128u);

    HCRYPTKEY rc4 = 0;
    ASSERT_EQ(GenKeyImpl(context, CALG_RC4, (120u << 16), &rc4), 0u);
    BYTE salt[16];
    length = sizeof salt;
    ASSERT_EQ(GetKeyParamImpl(context, rc4, KP_SALT, salt, &length), 0u);
    EXPECT_EQ(length, 1u);
    EXPECT_EQ(GetKeyParamImpl(context, rc4, KP_IV, salt, &length), DWORD(NTE_BAD_TYPE));
    EXPECT_EQ(GetKeyParamImpl(context, rc4, KP_MODE, salt, &length), DWORD(NTE_BAD_TYPE));
}

TEST_F(Keys, DestroyedOrForeignKeyIsRefused)
{
    HCRYPTPROV context = NewContainer("k");
    HCRYPTKEY key = 0;
    ASSERT_EQ(GenKeyImpl(context, CALG_3DES, 0, &key), 0u);
    ASSERT_EQ(DestroyKeyImpl(context, key), 0u);
    DWORD value = 0, length = sizeof value;
    EXPECT_EQ(GetKeyParamImpl(context, key, KP_ALGID, reinterpret_cast<BYTE*>(&value), &length), DWORD(NTE_BAD_KEY));
    EXPECT_EQ(DestroyKeyImpl(context, key), DWORD(NTE_BAD_KEY));
    KeyObject forged = {};
    forged.magic = kKeyMagic;
    EXPECT_EQ(DestroyKeyImpl(context, reinterpret_cast<HCRYPTKEY>(&forged)), DWORD(NTE_BAD_KEY));
}

TEST_F(Keys, CertificateLengthComesFromItsDerHeader)
{
    struct {
        std::vector<std::uint8_t> header;
        std::uint32_t expected;
    } cases[] = {
        {{0x30, 0x82, 0x07, 0xFC}, 2044 + 4},
        {{0x30, 0x82, 0x07, 0xFD}, 0}, // 2049 bytes in all
        {{0x30, 0x81, 0x80}, 0x80 + 3},
        {{0x30, 0x10}, 0x12},
        {{0x30, 0x80}, 0}, // indefinite length
        {{0x30, 0x83, 0x00, 0x01, 0x00}, 0},
        {{0x31, 0x10}, 0},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> der = c.header;
        der.resize(8, 0);
        EXPECT_EQ(DerCertificateLength(der.data(), 2048), c.expected) << int(der[1]);
    }
}

TEST_F(Keys, OversizedCertificateNeverReachesTheToken)
{
    HCRYPTPROV context = NewContainer("cert");
    HCRYPTKEY key = 0;
    ASSERT_EQ(GenKeyImpl(context, kAlgSm2Sign, 0, &key), 0u);
    std::vector<BYTE> certificate(2049, 0);
    certificate[0] = 0x30;
    certificate[1] = 0x82;
    certificate[2] = 0x07;
    certificate[3] = 0xFD;
    EXPECT_EQ(SetKeyParamImpl(context, key, KP_CERTIFICATE, certificate.data(), 0), DWORD(NTE_BAD_DATA));
    BYTE read[16];
    DWORD length = sizeof read;
    EXPECT_NE(GetKeyParamImpl(context, key, KP_CERTIFICATE, read, &length), 0u);
}

// Another context put an SM2 key into the container since this one was
// opened: an RSA key beside it would make the record misname it.
TEST_F(Keys, GenerationKeepsAnotherContextsKeyOfTheOtherAlgorithm)
{
    HCRYPTPROV other = NewContainer("shared");
    HCRYPTPROV stale = 0, reopened = 0;
    HCRYPTKEY key = 0;
    ASSERT_EQ(Acquire(&stale, "shared", 0), 0u);
    ASSERT_EQ(SetProvParamImpl(stale, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE*>(csptest::kUserPin)), 0u);
    ASSERT_EQ(GenKeyImpl(other, kAlgSm2Sign, 0, &key), 0u);
    g_PinVerified = 1; // lets the stale context log in with its cached PIN
    EXPECT_EQ(GenKeyImpl(stale, AT_KEYEXCHANGE, 0, &key), 8611u);
    g_PinVerified = 0;
    ASSERT_EQ(Acquire(&reopened, "shared", 0), 0u);
    EXPECT_EQ(ContextOf(reopened)->signatureKey.algId, ALG_ID(kAlgSm2Sign));
    EXPECT_EQ(ContextOf(reopened)->exchangeKey.keyLen, 0u);
}

// KeltoSKF in another process holds the token: a generation, which reads
// the container record and writes it back, waits until it is released.
TEST_F(Keys, GenerationWaitsForAnotherProcessesLock)
{
    HCRYPTPROV context = NewContainer("held");
    std::string tag = "csp-hold-" + std::to_string(GetCurrentProcessId());
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, (tag + "-ready").c_str());
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, (tag + "-release").c_str());
    std::string command = "SkfLockHolder.exe \"" + std::string(ContextOf(context)->session.deviceName) + "\" " + tag +
        "-ready " + tag + "-release unlock";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION holder = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &holder));
    ASSERT_EQ(WaitForSingleObject(ready, 20000), WAIT_OBJECT_0);
    std::atomic<DWORD> generated {99};
    HCRYPTKEY key = 0;
    std::thread generator([&] { generated = GenKeyImpl(context, kAlgSm2Sign, 0, &key); });
    Sleep(500); // time for a generation that does not wait to end
    EXPECT_EQ(generated, 99u);
    SetEvent(release);
    generator.join();
    EXPECT_EQ(generated, 0u);
    DWORD exitCode = 99;
    WaitForSingleObject(holder.hProcess, 20000);
    GetExitCodeProcess(holder.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    for (HANDLE h : {holder.hThread, holder.hProcess, ready, release}) CloseHandle(h);
}

} // namespace
