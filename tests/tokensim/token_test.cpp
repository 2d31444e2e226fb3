// The simulated token as a card would behave: PIN counters, access rules,
// removal, key use and injected faults.
#include "TokenFixture.h"

#include <cstring>
#include <vector>

namespace {

using namespace devicelib;
using tokentest::AddToken;
using tokentest::EditStore;

class Token : public tokentest::StoreFixture {
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_lib = LoadLibraryA(kLibraryName);
        ASSERT_NE(m_lib, nullptr);
        auto get = reinterpret_cast<PFN_ukGetFunctionList>(
            reinterpret_cast<void*>(GetProcAddress(m_lib, kGetFunctionListName)));
        ASSERT_NE(get, nullptr);
        ASSERT_EQ(get(&f), UK_OK);
        ASSERT_EQ(f->Initialize(kApplicationId), UK_OK);
        AddToken("T1");
    }
    void TearDown() override
    {
        f->Finalize(nullptr);
        // Kept loaded: unloading the DLL leaves a handler behind that
        // faults at process exit (open, see the tokensim notes).
        StoreFixture::TearDown();
    }
    UK_HANDLE Open(const char* serial = "T1")
    {
        UK_HANDLE h = 0;
        EXPECT_EQ(f->OpenToken(tokensim::DeviceNameFor(serial).c_str(), &h), UK_OK);
        return h;
    }
    std::uint32_t Login(UK_HANDLE h, const char* pin)
    {
        return f->Login(h, UK_PIN_USER, UK_PIN_USER, reinterpret_cast<const std::uint8_t*>(pin),
                        static_cast<std::uint32_t>(std::strlen(pin)));
    }
    // A fresh container's record as the card hands it back.
    std::vector<std::uint8_t> NewContainer(UK_HANDLE h, const char* name)
    {
        std::vector<std::uint8_t> r(UK_CONTAINER_RECORD_LEN);
        std::strcpy(reinterpret_cast<char*>(&r[container::kName]), name);
        EXPECT_EQ(f->CreateContainer(h, r.data()), UK_OK);
        return r;
    }

    HMODULE m_lib = nullptr;
    UK_FUNCTION_LIST* f = nullptr;
};

TEST_F(Token, WrongPinsCountDownThenBlockEvenTheRightPin)
{
    UK_HANDLE h = Open();
    for (std::uint32_t left = 5; left > 0; --left) EXPECT_EQ(Login(h, "00000000"), UK_SW_WRONG_PIN | left);
    EXPECT_EQ(Login(h, "00000000"), UK_SW_WRONG_PIN);
    EXPECT_EQ(Login(h, "12345678"), UK_SW_PIN_BLOCKED);
    std::uint32_t info = 0xFF;
    EXPECT_EQ(f->GetRetryTimes(h, UK_PIN_USER, UK_PIN_USER, &info), UK_OK);
    EXPECT_EQ(info, 0u);
}

TEST_F(Token, RightPinRestoresTheCounterForEveryProcess)
{
    UK_HANDLE h = Open();
    EXPECT_EQ(Login(h, "bad-pin"), UK_SW_WRONG_PIN | 5);
    EXPECT_EQ(Login(h, "12345678"), UK_OK);
    UK_HANDLE other = Open(); // the counter lives on the card, not the handle
    std::uint32_t info = 0;
    EXPECT_EQ(f->GetRetryTimes(other, UK_PIN_USER, UK_PIN_USER, &info), UK_OK);
    EXPECT_EQ(info, 6u);
}

TEST_F(Token, FactoryDefaultBitUntilThePinIsChanged)
{
    tokensim::TokenOptions o;
    o.factoryDefault = true;
    AddToken("T2", o);
    UK_HANDLE h = Open("T2");
    std::uint32_t info = 0;
    EXPECT_EQ(f->GetRetryTimes(h, UK_PIN_USER, UK_PIN_USER, &info), UK_OK);
    EXPECT_EQ(info, UK_RETRY_FACTORY_DEFAULT | 6);
    const std::uint8_t oldPin[] = "12345678", newPin[] = "24681357";
    EXPECT_EQ(f->ModifyPIN(h, 1, 1, oldPin, 8, newPin, 8), UK_OK);
    EXPECT_EQ(f->GetRetryTimes(h, UK_PIN_USER, UK_PIN_USER, &info), UK_OK);
    EXPECT_EQ(info, 6u);
}

TEST_F(Token, PrivateKeyUseNeedsTheUserPinOnThisHandle)
{
    UK_HANDLE h = Open();
    auto r = NewContainer(h, "c");
    UK_KEY_REF pub {r[container::kSignaturePublic], r[container::kSignaturePublic + 1]};
    UK_KEY_REF priv {r[container::kSignaturePrivate], r[container::kSignaturePrivate + 1]};
    EXPECT_EQ(f->GenerateKeyPair(h, UK_ALG_SM2, 256, 0, 0, &pub, &priv), UK_SW_SECURITY_NOT_SATISFIED);
    ASSERT_EQ(Login(h, "12345678"), UK_OK);
    ASSERT_EQ(f->GenerateKeyPair(h, UK_ALG_SM2, 256, 0, 0, &pub, &priv), UK_OK);
    UK_HANDLE other = Open();
    UK_ASYM_KEY_SPEC spec {UK_ALG_SM2, UK_USE_PRIVATE_SIGN, UK_PAD_PKCS1, &priv, 0};
    UK_HANDLE op = 0;
    EXPECT_EQ(f->AsymKeyInit(other, &spec, &op), UK_SW_SECURITY_NOT_SATISFIED);
    const std::uint8_t clear[] = {0xB0, 0x99, 0x00, 0x00};
    std::uint8_t resp[128];
    std::uint32_t respLen = sizeof resp;
    EXPECT_EQ(f->SendAPDUCmd(h, clear, sizeof clear, resp, &respLen), UK_OK);
    EXPECT_EQ(f->AsymKeyInit(h, &spec, &op), UK_SW_SECURITY_NOT_SATISFIED);
}

TEST_F(Token, Sm2SignatureVerifiesOnTheCard)
{
    UK_HANDLE h = Open();
    auto r = NewContainer(h, "c");
    UK_KEY_REF pub {r[container::kSignaturePublic], r[container::kSignaturePublic + 1]};
    UK_KEY_REF priv {r[container::kSignaturePrivate], r[container::kSignaturePrivate + 1]};
    ASSERT_EQ(Login(h, "12345678"), UK_OK);
    ASSERT_EQ(f->GenerateKeyPair(h, UK_ALG_SM2, 256, 0, 0, &pub, &priv), UK_OK);
    std::uint8_t digest[32];
    for (int i = 0; i < 32; ++i) digest[i] = static_cast<std::uint8_t>(i * 7);
    UK_ASYM_KEY_SPEC sign {UK_ALG_SM2, UK_USE_PRIVATE_SIGN, UK_PAD_PKCS1, &priv, 0};
    UK_HANDLE op = 0;
    ASSERT_EQ(f->AsymKeyInit(h, &sign, &op), UK_OK);
    std::uint8_t sig[512];
    std::uint32_t sigLen = sizeof sig;
    ASSERT_EQ(f->PrikeySign(op, UK_SIGN_BLOCK, 0, digest, 32, sig, &sigLen), UK_OK);
    EXPECT_EQ(sigLen, 64u);
    f->AsymKeyFinal(op);
    UK_ASYM_KEY_SPEC verify {UK_ALG_SM2, UK_USE_PUBLIC_VERIFY, UK_PAD_PKCS1, &pub, 0};
    ASSERT_EQ(f->AsymKeyInit(h, &verify, &op), UK_OK);
    std::uint32_t len = 64;
    EXPECT_EQ(f->PubKeyVerify(op, digest, 32, sig, &len), UK_OK);
    sig[40] ^= 1;
    EXPECT_EQ(f->PubKeyVerify(op, digest, 32, sig, &len), UK_SW_VERIFY_FAILED);
}

TEST_F(Token, RemovedTokenFailsItsOpenHandleAndLeavesTheList)
{
    AddToken("T2");
    UK_HANDLE h = Open("T2");
    EditStore([](tokensim::State& s) { ASSERT_EQ(tokensim::SetPresent(s, "T2", false), ""); });
    std::uint8_t buf[8];
    EXPECT_EQ(f->GenRandom(h, buf, sizeof buf), UK_ERR_DEVICE_REMOVED);
    char names[4 * UK_NAME_LEN];
    std::uint32_t count = 4;
    ASSERT_EQ(f->EnumToken(names, &count), UK_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_STREQ(names, tokensim::DeviceNameFor("T1").c_str());

    // Plugged in again: a handle from before stays dead, its login with it.
    EditStore([](tokensim::State& s) { ASSERT_EQ(tokensim::SetPresent(s, "T2", true), ""); });
    UK_HANDLE before = Open("T2");
    ASSERT_EQ(Login(before, "12345678"), UK_OK);
    EditStore([](tokensim::State& s) {
        ASSERT_EQ(tokensim::SetPresent(s, "T2", false), "");
        ASSERT_EQ(tokensim::SetPresent(s, "T2", true), "");
    });
    EXPECT_EQ(f->GenRandom(before, buf, sizeof buf), UK_ERR_DEVICE_REMOVED);
    auto record = NewContainer(Open("T2"), "after");
    EXPECT_EQ(f->WriteContainer(before, record.data(), 0x10000), UK_ERR_DEVICE_REMOVED);
}

TEST_F(Token, ContainerNamesAreUnique)
{
    UK_HANDLE h = Open();
    NewContainer(h, "one");
    std::vector<std::uint8_t> again(UK_CONTAINER_RECORD_LEN);
    std::strcpy(reinterpret_cast<char*>(&again[container::kName]), "one");
    EXPECT_EQ(f->CreateContainer(h, again.data()), UK_SW_FILE_EXISTS);
    std::uint32_t count = 4;
    std::vector<std::uint8_t> records(4 * UK_CONTAINER_RECORD_LEN);
    ASSERT_EQ(f->EnumContainer(h, records.data(), &count), UK_OK);
    EXPECT_EQ(count, 1u);
}

TEST_F(Token, InjectedFaultAnswersOnceThenTheCardAgain)
{
    EditStore([](tokensim::State& s) { s.faults.push_back({34, 0x80006F00, 1}); });
    UK_HANDLE h = Open();
    std::uint8_t buf[8];
    EXPECT_EQ(f->GenRandom(h, buf, sizeof buf), 0x80006F00u);
    EXPECT_EQ(f->GenRandom(h, buf, sizeof buf), UK_OK);
}

TEST_F(Token, ContainerNumberZeroIsNoContainer)
{
    UK_HANDLE h = Open();
    auto r = NewContainer(h, "c");
    EXPECT_NE(r[container::kNumber], 0);
    EXPECT_EQ(r[container::kSignaturePublic + 1], r[container::kSignaturePrivate + 1]);
    std::vector<std::uint8_t> empty(UK_CONTAINER_RECORD_LEN);
    EXPECT_EQ(f->ReadContainer(h, empty.data()), UK_SW_REF_NOT_FOUND);
    EXPECT_EQ(f->DeleteContainer(h, empty.data()), UK_SW_REF_NOT_FOUND);
}

TEST_F(Token, SerialNumberApduFramesItsAnswer)
{
    UK_HANDLE h = Open();
    const std::uint8_t cmd[] = {0xB0, 0x61, 0x00, 0x00, 0x3F};
    std::uint8_t resp[128];
    std::uint32_t len = sizeof resp;
    ASSERT_EQ(f->SendAPDUCmd(h, cmd, sizeof cmd, resp, &len), UK_OK);
    ASSERT_EQ(len, 2u + 2u + 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(resp + 2), len - 4), "T1");
    EXPECT_EQ(resp[len - 2], 0x90);
}

} // namespace
