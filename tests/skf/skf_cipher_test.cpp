// Session keys and the token's cipher: outputs against OpenSSL's SM4, the
// Update and Final split, padding, bounds, and keys wrapped and unwrapped.
#include "SkfDigestExports.h"
#include "SkfFileExports.h"
#include "SkfKeyFixture.h"
#include "SkfMoreExports.h"

#include <atomic>
#include <functional>
#include <thread>

namespace {

using namespace skftest;

class Cipher : public KeyTest {
protected:
    Bytes m_key = Random(16, 0x40);
    Bytes m_iv = Random(16, 0x90);
};

TEST_F(Cipher, EcbBlocksAndPadding)
{
    HKEY_HANDLE h = SessionKey(m_key, SGD_SMS4_ECB);
    Bytes plain = Random(32, 1);
    ASSERT_EQ(Keys().SKF_EncryptInit(h, Param(0)), SAR_OK);
    EXPECT_EQ(EncryptAll(h, plain), Sm4("SM4-ECB", m_key, {}, plain, true, false));

    ASSERT_EQ(Keys().SKF_EncryptInit(h, Param(1)), SAR_OK);
    Bytes padded = EncryptAll(h, plain);
    ASSERT_EQ(padded.size(), 48u);
    EXPECT_EQ(padded, Sm4("SM4-ECB", m_key, {}, plain, true, true));

    // Without padding the data must fill its blocks, either way.
    ASSERT_EQ(Keys().SKF_EncryptInit(h, Param(0)), SAR_OK);
    Bytes twenty = Random(20, 3);
    Bytes out(64);
    ULONG len = 64;
    EXPECT_EQ(Keys().SKF_Encrypt(h, twenty.data(), 20, out.data(), &len), SAR_INDATALENERR);
    ASSERT_EQ(Keys().SKF_DecryptInit(h, Param(0)), SAR_OK);
    len = 64;
    EXPECT_EQ(Keys().SKF_Decrypt(h, padded.data(), 17, out.data(), &len), SAR_INDATALENERR);
}

TEST_F(Cipher, UnknownAlgorithmsAndPaddingsAreRefused)
{
    HKEY_HANDLE h = nullptr;
    for (ULONG alg : {0x408ul, 0x12345ul})
        EXPECT_EQ(Keys().SKF_SetSymmKey(m_dev, m_key.data(), alg, &h), SAR_INVALIDPARAMERR) << alg;
    EXPECT_EQ(h, nullptr);
    h = SessionKey(m_key, SGD_SMS4_CBC);
    EXPECT_EQ(Keys().SKF_EncryptInit(h, Param(7, m_iv)), SAR_INVALIDPARAMERR);
    EXPECT_EQ(Keys().SKF_DecryptInit(h, Param(2, m_iv)), SAR_INVALIDPARAMERR);
    // CBC's chaining value is one block, and must be given as one.
    BLOCKCIPHERPARAM p = Param(0, m_iv);
    for (ULONG ivLen : {0ul, 15ul, 32ul}) {
        p.IVLen = ivLen;
        EXPECT_EQ(Keys().SKF_EncryptInit(h, p), SAR_INVALIDPARAMERR) << ivLen;
        EXPECT_EQ(Keys().SKF_DecryptInit(h, p), SAR_INVALIDPARAMERR) << ivLen;
    }
}

// Streams of several Update calls give what one call and OpenSSL give,
// whatever the chunks, with and without padding, both ways.
TEST_F(Cipher, UpdatesInAnyChunksMatchOneCallAndOpenSsl)
{
    Bytes plain = Random(600, 5);
    const std::vector<ULONG> chunks[] = {{1, 15, 16, 17, 300, 251}, {599, 1}, {600}, {0, 7, 593}};
    for (ULONG alg : {SGD_SMS4_CBC, SGD_SMS4_ECB}) {
        const bool cbc = alg == SGD_SMS4_CBC;
        const char* mode = cbc ? "SM4-CBC" : "SM4-ECB";
        HKEY_HANDLE h = SessionKey(m_key, alg);
        for (ULONG padding : {1ul, 0ul}) {
            const Bytes in = padding ? plain : Bytes(plain.begin(), plain.begin() + 592);
            const Bytes expected = Sm4(mode, m_key, cbc ? m_iv : Bytes(), in, true, padding != 0);
            ASSERT_EQ(Keys().SKF_EncryptInit(h, Param(padding, m_iv)), SAR_OK);
            EXPECT_EQ(EncryptAll(h, in), expected) << mode << padding;
            for (const auto& sizes : chunks) {
                ASSERT_EQ(Keys().SKF_EncryptInit(h, Param(padding, m_iv)), SAR_OK);
                EXPECT_EQ(Stream(h, true, in, sizes), expected) << mode << padding << sizes.size();
                ASSERT_EQ(Keys().SKF_DecryptInit(h, Param(padding, m_iv)), SAR_OK);
                EXPECT_EQ(Stream(h, false, expected, sizes), in) << mode << padding << sizes.size();
            }
        }
    }
}

// A size query tells what the call writes and spends nothing; a short
// buffer is refused and the same call then succeeds.
TEST_F(Cipher, SizeQueriesAndShortBuffersLeaveTheStreamAsItWas)
{
    HKEY_HANDLE h = SessionKey(m_key, SGD_SMS4_CBC);
    Bytes plain = Random(40, 7);
    Bytes expected = Sm4("SM4-CBC", m_key, m_iv, plain, true, true);
    ASSERT_EQ(Keys().SKF_DecryptInit(h, Param(1, m_iv)), SAR_OK);
    Bytes out(64);
    ULONG len = 0;
    ASSERT_EQ(Keys().SKF_DecryptUpdate(h, expected.data(), 48, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 32u); // the last block waits: it holds the padding
    len = 31;
    EXPECT_EQ(Keys().SKF_DecryptUpdate(h, expected.data(), 48, out.data(), &len), SAR_FAIL);
    EXPECT_EQ(len, 32u);
    ASSERT_EQ(Keys().SKF_DecryptUpdate(h, expected.data(), 48, out.data(), &len), SAR_OK);
    ASSERT_EQ(len, 32u);
    ULONG last = 99;
    ASSERT_EQ(Keys().SKF_DecryptFinal(h, nullptr, &last), SAR_OK);
    EXPECT_EQ(last, 8u);
    last = 7;
    EXPECT_EQ(Keys().SKF_DecryptFinal(h, out.data() + 32, &last), SAR_FAIL);
    ASSERT_EQ(Keys().SKF_DecryptFinal(h, out.data() + 32, &last), SAR_OK);
    ASSERT_EQ(last, 8u);
    out.resize(40);
    EXPECT_EQ(out, plain);
}

// Each key keeps its own stream: two threads interleaving their streams
// on one token get their own ciphertexts every time.
TEST_F(Cipher, StreamsOfTwoKeysOnTwoThreadsStayApart)
{
    struct Worker {
        HKEY_HANDLE key;
        Bytes keyBytes;
        int wrong = 0;
    };
    Worker workers[2] = {{SessionKey(m_key, SGD_SMS4_CBC), m_key}, {nullptr, Random(16, 0x5A)}};
    workers[1].key = SessionKey(workers[1].keyBytes, SGD_SMS4_CBC);
    Bytes plain = Random(300, 3);
    auto run = [&](Worker& w) {
        Bytes expected = Sm4("SM4-CBC", w.keyBytes, m_iv, plain, true, true);
        for (int round = 0; round < 40; ++round) {
            if (Keys().SKF_EncryptInit(w.key, Param(1, m_iv)) != SAR_OK) {
                ++w.wrong;
                continue;
            }
            if (Stream(w.key, true, plain, {100, 100, 100}) != expected) ++w.wrong;
        }
    };
    std::thread other(run, std::ref(workers[1]));
    run(workers[0]);
    other.join();
    EXPECT_EQ(workers[0].wrong, 0);
    EXPECT_EQ(workers[1].wrong, 0);
}

// Two threads on one hash or one session key at once: each call sees its
// state whole, so together they give what the same calls give one after
// the other.
TEST_F(Cipher, OneHashOrKeyUsedByTwoThreadsAtOnceStaysWhole)
{
    auto digestInit = SKF_EXPORT(SKF_DigestInit);
    auto digestUpdate = SKF_EXPORT(SKF_DigestUpdate);
    auto digestFinal = SKF_EXPORT(SKF_DigestFinal);
    ASSERT_TRUE(digestInit && digestUpdate && digestFinal);
    auto together = [](const std::function<void(int)>& run) {
        std::thread other(run, 1);
        run(0);
        other.join();
    };
    ECCPUBLICKEYBLOB pub = {};
    BYTE id[] = "1234567812345678";
    Bytes chunk = Random(262144 + 7, 4);
    HANDLE shared = nullptr, alone = nullptr;
    ASSERT_EQ(digestInit(m_dev, 1, &pub, id, 16, &shared), SAR_OK);
    ASSERT_EQ(digestInit(m_dev, 1, &pub, id, 16, &alone), SAR_OK);
    Own(shared);
    Own(alone);
    auto feed = [&](HANDLE h) {
        for (int i = 0; i < 8; ++i) digestUpdate(h, chunk.data(), static_cast<ULONG>(chunk.size()));
    };
    together([&](int) { feed(shared); });
    feed(alone);
    feed(alone);
    Bytes digests[2] = {Bytes(32), Bytes(32)};
    for (int i = 0; i < 2; ++i) {
        ULONG len = 32;
        ASSERT_EQ(digestFinal(i ? alone : shared, digests[i].data(), &len), SAR_OK);
    }
    EXPECT_EQ(digests[0], digests[1]);

    // Each block moves the chaining value on: the blocks of both threads
    // are those of one stream.
    HKEY_HANDLE key = SessionKey(m_key, SGD_SMS4_CBC);
    ASSERT_EQ(Keys().SKF_EncryptInit(key, Param(0, m_iv)), SAR_OK);
    constexpr int kBlocks = 40;
    Bytes block = Random(16, 8), plain;
    std::vector<Bytes> blocks[2];
    together([&](int t) {
        for (int i = 0; i < kBlocks; ++i) {
            Bytes out(16);
            ULONG len = 16;
            if (Keys().SKF_EncryptUpdate(key, block.data(), 16, out.data(), &len) == SAR_OK) blocks[t].push_back(out);
        }
    });
    std::vector<Bytes> got = blocks[0], expected;
    got.insert(got.end(), blocks[1].begin(), blocks[1].end());
    for (int i = 0; i < 2 * kBlocks; ++i) plain.insert(plain.end(), block.begin(), block.end());
    Bytes stream = Sm4("SM4-CBC", m_key, m_iv, plain, true, false);
    for (std::size_t at = 0; at < stream.size(); at += 16)
        expected.emplace_back(stream.begin() + at, stream.begin() + at + 16);
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_TRUE(got == expected);
}

TEST_F(Cipher, DecryptionChecksThePaddingItStrips)
{
    HKEY_HANDLE h = SessionKey(m_key, SGD_SMS4_ECB);
    Bytes plain = Random(16, 9);
    std::fill(plain.begin() + 12, plain.end(), 4);
    Bytes cipher = Sm4("SM4-ECB", m_key, {}, plain, true, false);
    ASSERT_EQ(Keys().SKF_DecryptInit(h, Param(1)), SAR_OK);
    EXPECT_EQ(DecryptAll(h, cipher), Bytes(plain.begin(), plain.begin() + 12));
    ASSERT_EQ(Keys().SKF_DecryptInit(h, Param(0)), SAR_OK);
    EXPECT_EQ(DecryptAll(h, cipher), plain);

    // A last byte out of range, or padding bytes that disagree, fail.
    for (int bad : {0, 1, 2}) {
        Bytes wrong = plain;
        if (bad == 0) wrong[15] = 0x40;
        if (bad == 1) wrong[15] = 0;
        if (bad == 2) wrong[13] = 5;
        cipher = Sm4("SM4-ECB", m_key, {}, wrong, true, false);
        ASSERT_EQ(Keys().SKF_DecryptInit(h, Param(1)), SAR_OK);
        Bytes out(32);
        ULONG len = 32;
        EXPECT_EQ(Keys().SKF_Decrypt(h, cipher.data(), 16, out.data(), &len), SAR_FAIL) << bad;
        ASSERT_EQ(Keys().SKF_DecryptInit(h, Param(1)), SAR_OK);
        len = 32;
        ASSERT_EQ(Keys().SKF_DecryptUpdate(h, cipher.data(), 16, out.data(), &len), SAR_OK);
        EXPECT_EQ(Keys().SKF_DecryptFinal(h, out.data(), &len), SAR_FAIL) << bad;
    }
}

// The simulated token stands SM4 in for SM1 and SSF33.
TEST_F(Cipher, UnpublishedAlgorithmsRunOnTheTokensStandIn)
{
    const struct {
        ULONG alg;
        const char* mode;
    } cases[] = {
        {SGD_SM1_CBC, "SM4-CBC"}, {SGD_SSF33_ECB, "SM4-ECB"}, {SGD_SSF33_CBC, "SM4-CBC"}, {SGD_SM1_ECB, "SM4-ECB"}};
    Bytes plain = Random(64, 2);
    for (const auto& c : cases) {
        HKEY_HANDLE h = SessionKey(m_key, c.alg);
        bool cbc = std::string(c.mode) == "SM4-CBC";
        ASSERT_EQ(Keys().SKF_EncryptInit(h, Param(0, m_iv)), SAR_OK) << c.alg;
        EXPECT_EQ(EncryptAll(h, plain), Sm4(c.mode, m_key, cbc ? m_iv : Bytes(), plain, true, false)) << c.alg;
    }
}

TEST_F(Cipher, LengthsAndHandlesAreChecked)
{
    HKEY_HANDLE h = SessionKey(m_key, SGD_SMS4_ECB);
    ASSERT_EQ(Keys().SKF_EncryptInit(h, Param(0)), SAR_OK);
    Bytes big(20480 + 16);
    Bytes out(big.size() + 16);
    ULONG len = static_cast<ULONG>(out.size());
    EXPECT_EQ(Keys().SKF_Encrypt(h, big.data(), static_cast<ULONG>(big.size()), out.data(), &len), SAR_INDATALENERR);
    ASSERT_EQ(Keys().SKF_DecryptInit(h, Param(0)), SAR_OK);
    EXPECT_EQ(Keys().SKF_Decrypt(h, big.data(), static_cast<ULONG>(big.size()), out.data(), &len), SAR_INDATALENERR);
    ASSERT_EQ(Keys().SKF_EncryptInit(h, Param(0)), SAR_OK);
    Bytes plain = Random(64, 1);
    len = 63;
    EXPECT_EQ(Keys().SKF_Encrypt(h, plain.data(), 64, out.data(), &len), SAR_FAIL);
    EXPECT_EQ(Keys().SKF_Encrypt(h, plain.data(), 64, out.data(), nullptr), SAR_INVALIDPARAMERR);

    // A short answer of the token is refused, not read past.
    ASSERT_EQ(Keys().SKF_EncryptInit(h, Param(0)), SAR_OK);
    tokentest::EditStore([&](tokensim::State& s) { s.faults.push_back({7, 0, 1, 3}); });
    len = static_cast<ULONG>(out.size());
    EXPECT_EQ(Keys().SKF_Encrypt(h, plain.data(), 64, out.data(), &len), SAR_FAIL);

    Bytes stack(16);
    EXPECT_EQ(Keys().SKF_EncryptInit(stack.data(), Param(0)), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(Keys().SKF_EncryptInit(nullptr, Param(0)), SAR_INVALIDHANDLEERR);
    HKEY_HANDLE closed = nullptr;
    ASSERT_EQ(Keys().SKF_SetSymmKey(m_dev, m_key.data(), SGD_SMS4_ECB, &closed), SAR_OK);
    EXPECT_EQ(Keys().SKF_CloseHandle(closed), SAR_OK);
    EXPECT_EQ(Keys().SKF_EncryptInit(closed, Param(0)), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(Keys().SKF_CloseHandle(nullptr), SAR_OK);
}

TEST_F(Cipher, PlaintextCopiesAreWipedBeforeTheirMemoryIsFreed)
{
    HKEY_HANDLE h = SessionKey(m_key, SGD_SMS4_ECB);
    ASSERT_EQ(Keys().SKF_EncryptInit(h, Param(0)), SAR_OK);
    Secret secret(64, 0xC1A55E);
    Bytes clear = secret.Clear();
    ULONG len = 0;
    ASSERT_EQ(Keys().SKF_EncryptUpdate(h, clear.data(), 64, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 64u);
    Bytes out(64);
    ASSERT_EQ(Keys().SKF_EncryptUpdate(h, clear.data(), 64, out.data(), &len), SAR_OK);
    Secret::Wipe(clear);
    EXPECT_FALSE(secret.InMemory());
}

// Rounds of two threads racing on a fresh handle each: the other thread
// uses it up to three times and then closes it, this one closes it as soon
// as the first use begins. Every use must answer ok or
// SAR_INVALIDHANDLEERR, one close succeed and the other be refused.
// Returns the answers that broke this.
int CloseWhileInUse(const std::function<HANDLE()>& make, const std::function<ULONG(HANDLE)>& use, ULONG ok,
                    const std::function<ULONG(HANDLE)>& close)
{
    constexpr int kRounds = 200;
    std::atomic<int> odd {0}, closed {0}, started {-1};
    HANDLE handle = nullptr, go = CreateEventW(nullptr, FALSE, FALSE, nullptr),
           done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    auto closeOnce = [&] {
        const ULONG rc = close(handle);
        if (rc == SAR_OK)
            ++closed;
        else if (rc != SAR_INVALIDHANDLEERR)
            ++odd;
    };
    // One thread for all rounds: starting one a round costs more than the round.
    std::thread other([&] {
        for (int round = 0; round < kRounds; ++round) {
            WaitForSingleObject(go, INFINITE);
            for (int i = 0; i < 3; ++i) {
                started = round;
                const ULONG rc = use(handle);
                if (rc == SAR_INVALIDHANDLEERR) break;
                if (rc != ok) ++odd;
            }
            closeOnce();
            SetEvent(done);
        }
    });
    for (int round = 0; round < kRounds; ++round) {
        handle = make();
        SetEvent(go);
        while (started != round) std::this_thread::yield();
        closeOnce();
        WaitForSingleObject(done, INFINITE);
    }
    other.join();
    CloseHandle(go);
    CloseHandle(done);
    return odd + closed - kRounds;
}

TEST_F(Cipher, HandlesClosedWhileInUseAnswerTheirResultOrInvalidHandle)
{
    auto digestInit = SKF_EXPORT(SKF_DigestInit);
    auto digestUpdate = SKF_EXPORT(SKF_DigestUpdate);
    ASSERT_TRUE(digestInit && digestUpdate);
    ECCPUBLICKEYBLOB pub = {};
    unsigned char id[] = "1234567812345678";
    Bytes data = Random(16, 2), out(16);
    ASSERT_NE(Create("raced"), nullptr);
    auto closeHandle = [](HANDLE h) { return Keys().SKF_CloseHandle(h); };
    EXPECT_EQ(CloseWhileInUse(
                  [&] {
                      HANDLE hash = nullptr;
                      digestInit(m_dev, 1, &pub, id, 16, &hash);
                      return hash;
                  },
                  [&](HANDLE hash) { return digestUpdate(hash, data.data(), 16); }, SAR_OK, closeHandle),
              0)
        << "hash";
    EXPECT_EQ(CloseWhileInUse(
                  [&] {
                      HKEY_HANDLE key = nullptr;
                      Keys().SKF_SetSymmKey(m_dev, m_key.data(), SGD_SMS4_ECB, &key);
                      Keys().SKF_EncryptInit(key, Param(0));
                      return key;
                  },
                  [&](HANDLE key) {
                      ULONG len = 16;
                      return Keys().SKF_EncryptUpdate(key, data.data(), 16, out.data(), &len);
                  },
                  SAR_OK, closeHandle),
              0)
        << "session key";
    EXPECT_EQ(CloseWhileInUse(
                  [&] {
                      HCONTAINER con = nullptr;
                      Skf().SKF_OpenContainer(m_dev, Text("raced"), &con);
                      return con;
                  },
                  [](HANDLE con) {
                      ULONG type = 0;
                      return Skf().SKF_GetContainerType(con, &type);
                  },
                  SAR_OK, [](HANDLE con) { return Skf().SKF_CloseContainer(con); }),
              0)
        << "container";
    EXPECT_EQ(CloseWhileInUse(
                  [] {
                      DEVHANDLE dev = nullptr;
                      Skf().SKF_ConnectDev(Text(NameOf(Serial(1))), &dev);
                      return dev;
                  },
                  [](HANDLE dev) {
                      ULONG tries = 0;
                      return Skf().SKF_VerifyPIN(dev, USER_TYPE, Text("12345678"), &tries);
                  },
                  SAR_OK, [](HANDLE dev) { return Skf().SKF_DisConnectDev(dev); }),
              0)
        << "device";
}

TEST_F(Cipher, MacAndKeyAgreementAreNotSupported)
{
    BLOCKCIPHERPARAM p = Param(0);
    HANDLE h = nullptr;
    ULONG len = 0;
    EXPECT_EQ(Keys().SKF_MacInit(nullptr, &p, &h), SAR_NOTSUPPORTYETERR);
    EXPECT_EQ(Keys().SKF_Mac(nullptr, nullptr, 0, nullptr, &len), SAR_NOTSUPPORTYETERR);
    EXPECT_EQ(Keys().SKF_MacUpdate(nullptr, nullptr, 0), SAR_NOTSUPPORTYETERR);
    EXPECT_EQ(Keys().SKF_MacFinal(nullptr, nullptr, &len), SAR_NOTSUPPORTYETERR);
    EXPECT_EQ(Keys().SKF_GenerateAgreementDataWithECC(nullptr, 0, nullptr, nullptr, 0, &h), SAR_NOTSUPPORTYETERR);
    EXPECT_EQ(Keys().SKF_GenerateAgreementDataAndKeyWithECC(nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0, nullptr,
                                                            0, &h),
              SAR_NOTSUPPORTYETERR);
    EXPECT_EQ(Keys().SKF_GenerateKeyWithECC(nullptr, nullptr, nullptr, nullptr, 0, &h), SAR_NOTSUPPORTYETERR);
}

class SessionKeys : public KeyTest {
protected:
    // What the session key encrypts, against SM4 under the given key bytes.
    void ExpectKey(HKEY_HANDLE h, const Bytes& key)
    {
        ASSERT_EQ(key.size(), 16u);
        Bytes plain = Random(32, 6);
        ASSERT_EQ(Keys().SKF_EncryptInit(h, Param(0)), SAR_OK);
        EXPECT_EQ(EncryptAll(h, plain), Sm4("SM4-ECB", key, {}, plain, true, false));
    }
    HCONTAINER m_con = nullptr;
    void SetUp() override
    {
        KeyTest::SetUp();
        m_con = Create("session");
    }
};

TEST_F(SessionKeys, Sm2WrappedKeyOpensWithOpenSsl)
{
    Pkey key = NewKey("SM2");
    ECCPUBLICKEYBLOB pub = EccBlobOf(key.get());
    Bytes room(EccCipherBlobSize(16));
    HKEY_HANDLE h = nullptr;
    ASSERT_EQ(Keys().SKF_ECCExportSessionKey(m_con, SGD_SMS4_ECB, &pub, AsCipher(room), &h), SAR_OK);
    Own(h);
    EXPECT_EQ(AsCipher(room)->CipherLen, 16u);
    ExpectKey(h, Decrypt(key.get(), Sm2CipherDer(*AsCipher(room))));
    EXPECT_EQ(Keys().SKF_ECCExportSessionKey(m_con, SGD_SMS4_ECB, nullptr, AsCipher(room), &h), SAR_INVALIDHANDLEERR);
    // An unknown algorithm or a key off the curve is refused.
    HKEY_HANDLE none = nullptr;
    EXPECT_EQ(Keys().SKF_ECCExportSessionKey(m_con, 0x12345, &pub, AsCipher(room), &none), SAR_INVALIDPARAMERR);
    pub.YCoordinate[50] ^= 4;
    EXPECT_EQ(Keys().SKF_ECCExportSessionKey(m_con, SGD_SMS4_ECB, &pub, AsCipher(room), &none), SAR_INVALIDPARAMERR);
    EXPECT_EQ(none, nullptr);
}

// The padding bytes are never zero, so a standard unpadding finds the key
// every time.
TEST_F(SessionKeys, RsaWrappedKeyOpensWithOpenSslEveryTime)
{
    Pkey key = NewKey("RSA", 1024);
    RSAPUBLICKEYBLOB pub = RsaBlobOf(key.get());
    for (int i = 0; i < 12; ++i) {
        Bytes wrapped(128);
        ULONG len = 128;
        HKEY_HANDLE h = nullptr;
        ASSERT_EQ(Keys().SKF_RSAExportSessionKey(m_con, SGD_SMS4_ECB, &pub, wrapped.data(), &len, &h), SAR_OK);
        Own(h);
        EXPECT_EQ(len, 128u);
        Bytes raw = Decrypt(key.get(), wrapped, RSA_NO_PADDING);
        ASSERT_EQ(raw.size(), 128u);
        EXPECT_EQ(std::count(raw.begin() + 2, raw.begin() + 111, 0), 0) << i;
        ExpectKey(h, Decrypt(key.get(), wrapped, RSA_PKCS1_PADDING));
    }
    Pkey big = NewKey("RSA", 2048);
    RSAPUBLICKEYBLOB pub2048 = RsaBlobOf(big.get());
    Bytes wrapped(256);
    ULONG len = 256;
    HKEY_HANDLE h = nullptr;
    EXPECT_EQ(Keys().SKF_RSAExportSessionKey(m_con, SGD_SMS4_ECB, &pub2048, wrapped.data(), &len, &h), SAR_FAIL);
    EXPECT_EQ(h, nullptr);
}

TEST_F(SessionKeys, KeysWrappedForTheExchangeKeyAreUnwrappedOnTheToken)
{
    Provision("sm2 exchange", devicelib::UK_ALG_SM2, 256, false);
    Provision("rsa exchange", devicelib::UK_ALG_RSA, 1024, false);
    Bytes secret = Random(16, 0x33);

    HCONTAINER sm2 = Open("sm2 exchange");
    Pkey sm2Key = Sm2KeyOf(ExportKey<ECCPUBLICKEYBLOB>(sm2, FALSE));
    Bytes wrapped = Sm2CipherBlob(Encrypt(sm2Key.get(), secret));
    HKEY_HANDLE h = nullptr;
    ASSERT_EQ(Keys().SKF_ImportSessionKey(sm2, SGD_SMS4_ECB, wrapped.data(), static_cast<ULONG>(wrapped.size()), &h),
              SAR_OK);
    ExpectKey(Own(h), secret);
    // A cipher length beyond the wrapped data is refused.
    EXPECT_EQ(Keys().SKF_ImportSessionKey(sm2, SGD_SMS4_ECB, wrapped.data(), 170, &h), SAR_FAIL);

    HCONTAINER rsa = Open("rsa exchange");
    Pkey rsaKey = RsaKeyOf(ExportKey<RSAPUBLICKEYBLOB>(rsa, FALSE));
    Bytes rsaWrapped = Encrypt(rsaKey.get(), secret, RSA_PKCS1_PADDING);
    h = nullptr;
    ASSERT_EQ(Keys().SKF_ImportSessionKey(rsa, SGD_SMS4_ECB, rsaWrapped.data(), 128, &h), SAR_OK);
    ExpectKey(Own(h), secret);

    EXPECT_EQ(Keys().SKF_ImportSessionKey(m_con, SGD_SMS4_ECB, rsaWrapped.data(), 128, &h), SAR_FAIL);
}

} // namespace

namespace {

using namespace skftest;

class KeyLog : public KeyTest { };

// Session keys, private keys and the envelope's symmetric key stay out of
// the debug log, although ciphertexts and public keys are dumped there.
TEST_F(KeyLog, KeyBytesNeverReachTheLog)
{
    RawLog log;
    Bytes key = Random(16, 0x77);
    HKEY_HANDLE h = SessionKey(key, SGD_SMS4_CBC);
    ASSERT_EQ(Keys().SKF_EncryptInit(h, Param(0, Bytes(16))), SAR_OK);
    EncryptAll(h, Random(48, 1));
    EXPECT_FALSE(log.Has(key));

    HCONTAINER con = Create("log");
    Pkey rsa = NewKey("RSA", 1024);
    RSAPUBLICKEYBLOB pub = RsaBlobOf(rsa.get());
    Bytes wrapped(128);
    ULONG len = 128;
    ASSERT_EQ(Keys().SKF_RSAExportSessionKey(con, SGD_SMS4_ECB, &pub, wrapped.data(), &len, &h), SAR_OK);
    Own(h);
    Bytes rsaKey = Decrypt(rsa.get(), wrapped, RSA_PKCS1_PADDING);
    ASSERT_EQ(rsaKey.size(), 16u);
    EXPECT_TRUE(log.Has(wrapped));
    EXPECT_FALSE(log.Has(rsaKey));

    Pkey sm2 = NewKey("SM2");
    ECCPUBLICKEYBLOB sm2Pub = EccBlobOf(sm2.get());
    Bytes room(EccCipherBlobSize(16));
    ASSERT_EQ(Keys().SKF_ECCExportSessionKey(con, SGD_SMS4_ECB, &sm2Pub, AsCipher(room), &h), SAR_OK);
    Own(h);
    EXPECT_FALSE(log.Has(Decrypt(sm2.get(), Sm2CipherDer(*AsCipher(room)))));

    RSAPRIVATEKEYBLOB pri = {};
    ASSERT_EQ(Keys().SKF_GenExtRSAKey(m_dev, 1024, &pri), SAR_OK);
    EXPECT_TRUE(log.Has(Bytes(pri.Modulus + 128, pri.Modulus + 256)));
    EXPECT_FALSE(log.Has(Bytes(pri.Prime1 + 64, pri.Prime1 + 128)));
    EXPECT_FALSE(log.Has(Bytes(pri.Prime2 + 64, pri.Prime2 + 128)));

    // Callers make keys from random numbers, and files may hold secrets.
    Bytes random(32);
    ASSERT_EQ(Skf().SKF_GenRandom(m_dev, random.data(), 32), SAR_OK);
    EXPECT_FALSE(log.Has(random));
    auto createFile = SKF_EXPORT(SKF_CreateFile);
    auto writeFile = SKF_EXPORT(SKF_WriteFile);
    auto readFile = SKF_EXPORT(SKF_ReadFile);
    Bytes secret = Random(24, 0x61);
    ASSERT_EQ(createFile(m_dev, Text("secret"), 24, 0xFF, 0x10), SAR_OK);
    ASSERT_EQ(writeFile(m_dev, Text("secret"), 0, secret.data(), 24), SAR_OK);
    Bytes back(24);
    len = 24;
    ASSERT_EQ(readFile(m_dev, Text("secret"), 0, 24, back.data(), &len), SAR_OK);
    EXPECT_EQ(back, secret);
    EXPECT_FALSE(log.Has(secret));
}

} // namespace
