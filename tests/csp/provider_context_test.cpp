// Provider contexts and parameters over simulated tokens.
#include "ProviderFixture.h"
#include "UserPin.h"

#include "AlgorithmTable.h"

#include <string>

namespace {

using csptest::ContextOf;
using tokentest::AddToken;

class ProviderContexts : public csptest::ProviderFixture { };

TEST_F(ProviderContexts, RefusedFlagCombinations)
{
    AddToken("A");
    for (DWORD flags : {DWORD(CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET), DWORD(CRYPT_MACHINE_KEYSET), DWORD(0x4)}) {
        HCRYPTPROV context = 0;
        EXPECT_EQ(Acquire(&context, nullptr, flags), DWORD(NTE_BAD_FLAGS)) << flags;
        EXPECT_EQ(context, 0u);
    }
}

TEST_F(ProviderContexts, SilentNewKeysetOnTwoTokensShowsNoChooser)
{
    AddToken("A");
    AddToken("B");
    HCRYPTPROV context = 0;
    EXPECT_EQ(Acquire(&context, "silent", CRYPT_NEWKEYSET | CRYPT_SILENT), DWORD(NTE_SILENT_CONTEXT));
    EXPECT_EQ(context, 0u);
}

TEST_F(ProviderContexts, VerifyContextNeedsNoToken)
{
    HCRYPTPROV context = 0;
    EXPECT_EQ(Acquire(&context, nullptr, 0), 55u);
    ASSERT_EQ(Acquire(&context, nullptr, CRYPT_VERIFYCONTEXT), 0u);
    EXPECT_FALSE(HasContainer(ContextOf(context)));
}

TEST_F(ProviderContexts, ContainerNameOf128IsKeptWhole129Refused)
{
    AddToken("A");
    std::string name(128, 'n');
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, name.c_str(), CRYPT_NEWKEYSET), 0u);
    EXPECT_EQ(std::string(ContextOf(context)->containerName), name);
    char buffer[kContainerNameRoom];
    DWORD length = sizeof buffer;
    ASSERT_EQ(GetProvParamImpl(context, PP_CONTAINER, reinterpret_cast<BYTE*>(buffer), &length, 0), 0u);
    EXPECT_EQ(length, 129u);
    std::string longer(129, 'n');
    HCRYPTPROV other = 0;
    EXPECT_EQ(Acquire(&other, longer.c_str(), CRYPT_NEWKEYSET), DWORD(NTE_BAD_DATA));
    EXPECT_EQ(Acquire(&other, longer.c_str(), 0), DWORD(NTE_BAD_DATA));
}

TEST_F(ProviderContexts, DeleteKeysetNeedsThePinThenRemovesTheContainerAndGivesNoContext)
{
    AddToken("A");
    Release(NewContainer("gone"));
    HCRYPTPROV untouched = 0x1234, context = 0;
    // The stand-in verifier never prompts: without a PIN that may serve,
    // nothing is deleted.
    g_PinVerified = 0;
    EXPECT_EQ(Acquire(&untouched, "gone", CRYPT_DELETEKEYSET), 1223u);
    ASSERT_EQ(Acquire(&context, "gone", 0), 0u);
    Release(context);
    // The cached PIN serves where it serves key generation.
    g_PinVerified = 1;
    EXPECT_EQ(Acquire(&untouched, "gone", CRYPT_DELETEKEYSET), 0u);
    g_PinVerified = 0;
    EXPECT_EQ(untouched, 0x1234u);
    EXPECT_EQ(Acquire(&context, "gone", 0), DWORD(NTE_BAD_KEYSET));
}

TEST_F(ProviderContexts, NamelessDeleteKeysetTouchesNoContainer)
{
    AddToken("A");
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, "kept", CRYPT_NEWKEYSET), 0u);
    Release(context);
    EXPECT_EQ(Acquire(&context, nullptr, CRYPT_DELETEKEYSET), DWORD(NTE_BAD_KEYSET));
    EXPECT_EQ(Acquire(&context, nullptr, CRYPT_VERIFYCONTEXT | CRYPT_DELETEKEYSET), DWORD(NTE_BAD_KEYSET));
    EXPECT_EQ(Acquire(&context, "kept", 0), 0u);
}

TEST_F(ProviderContexts, ReleasedOrForeignHandleIsBadUid)
{
    AddToken("A");
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, nullptr, 0), 0u);
    Release(context);
    DWORD length = 0;
    EXPECT_EQ(GetProvParamImpl(context, PP_NAME, nullptr, &length, 0), DWORD(NTE_BAD_UID));
    EXPECT_EQ(ReleaseContextImpl(context, 0), DWORD(NTE_BAD_UID));
    std::uint32_t notAContext[64] = {kProviderMagic};
    EXPECT_EQ(GetProvParamImpl(reinterpret_cast<HCRYPTPROV>(notAContext), PP_NAME, nullptr, &length, 0),
              DWORD(NTE_BAD_UID));
}

TEST_F(ProviderContexts, AlgorithmTableInOrderThenNoMoreItems)
{
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, nullptr, CRYPT_VERIFYCONTEXT), 0u);
    PROV_ENUMALGS record;
    DWORD length = sizeof record;
    std::vector<std::string> names;
    DWORD flags = CRYPT_FIRST;
    while (GetProvParamImpl(context, PP_ENUMALGS, reinterpret_cast<BYTE*>(&record), &length, flags) == 0) {
        EXPECT_EQ(record.dwNameLen, std::strlen(record.szName) + 1);
        names.push_back(record.szName);
        flags = 0;
    }
    ASSERT_EQ(names.size(), kAlgorithmCount);
    EXPECT_EQ(names.front(), "RC4");
    EXPECT_EQ(names[3], "3DES_112");
    EXPECT_EQ(names.back(), "SM3");
    EXPECT_EQ(GetProvParamImpl(context, PP_ENUMALGS, reinterpret_cast<BYTE*>(&record), &length, 0), 259u);
    ASSERT_EQ(GetProvParamImpl(context, PP_ENUMALGS, reinterpret_cast<BYTE*>(&record), &length, CRYPT_FIRST), 0u);
    EXPECT_STREQ(record.szName, "RC4");

    PROV_ENUMALGS_EX ex;
    DWORD exLength = 0;
    ASSERT_EQ(GetProvParamImpl(context, PP_ENUMALGS_EX, nullptr, &exLength, CRYPT_FIRST), 0u);
    EXPECT_EQ(exLength, sizeof ex);
    for (std::uint32_t i = 0; i <= 6; ++i)
        ASSERT_EQ(GetProvParamImpl(context, PP_ENUMALGS_EX, reinterpret_cast<BYTE*>(&ex), &exLength, i == 0), 0u);
    EXPECT_STREQ(ex.szLongName, "SHA-256");
    EXPECT_EQ(ex.dwProtocols, 0x3Fu);
    ASSERT_EQ(GetProvParamImpl(context, PP_ENUMALGS_EX, reinterpret_cast<BYTE*>(&ex), &exLength, 0), 0u);
    ASSERT_EQ(GetProvParamImpl(context, PP_ENUMALGS_EX, reinterpret_cast<BYTE*>(&ex), &exLength, 0), 0u);
    EXPECT_EQ(ex.aiAlgid, ALG_ID(CALG_RSA_KEYX));
    EXPECT_EQ(ex.dwMinLen, 1024u);
    EXPECT_EQ(ex.dwMaxLen, 2048u);
}

TEST_F(ProviderContexts, ContainersOfAllTokensFromCryptFirst)
{
    AddToken("A");
    AddToken("B");
    tokentest::EditStore([](tokensim::State& s) {
        s.FindBySerial("A")->AddContainer("a0");
        s.FindBySerial("B")->AddContainer("b0");
        s.FindBySerial("B")->AddContainer("b1");
    });
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, nullptr, CRYPT_VERIFYCONTEXT), 0u);
    DWORD length = 0;
    ASSERT_EQ(GetProvParamImpl(context, PP_ENUMCONTAINERS, nullptr, &length, CRYPT_FIRST), 0u);
    EXPECT_EQ(length, 129u);
    std::vector<char> buffer(length);
    std::vector<std::string> names;
    DWORD flags = CRYPT_FIRST;
    DWORD status;
    while ((status = GetProvParamImpl(context, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(buffer.data()), &length,
                                      flags)) == 0) {
        names.push_back(buffer.data());
        EXPECT_EQ(length, 129u);
        length = static_cast<DWORD>(buffer.size());
        flags = CRYPT_NEXT;
    }
    EXPECT_EQ(status, 259u);
    EXPECT_EQ(names, (std::vector<std::string> {"a0", "b0", "b1"}));

    char small[2];
    length = sizeof small;
    EXPECT_EQ(GetProvParamImpl(context, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(small), &length, CRYPT_FIRST),
              DWORD(ERROR_MORE_DATA));
    EXPECT_EQ(length, 129u);
}

// Two tokens alike, each with the default container: qualified names tell
// them apart, and one opens exactly its token or nothing.
TEST_F(ProviderContexts, QualifiedNamesOpenExactlyTheTokenNamed)
{
    std::vector<std::string> expected;
    for (const char* serial : {"A", "B"}) {
        AddToken(serial);
        tokentest::EditStore([&](tokensim::State& s) { s.FindBySerial(serial)->AddContainer(kDefaultContainerName); });
        expected.push_back(kQualifiedPrefix + tokensim::DeviceNameFor(serial) + "\\" + kDefaultContainerName);
    }
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, nullptr, CRYPT_VERIFYCONTEXT), 0u);
    char buffer[kMaxQualifiedName + 1];
    DWORD length = 16;
    auto qualified = [&](DWORD flags) {
        return GetProvParamImpl(context, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(buffer), &length, flags | 0x10);
    };
    EXPECT_EQ(qualified(CRYPT_FIRST), DWORD(ERROR_MORE_DATA));
    EXPECT_EQ(length, sizeof buffer);
    std::vector<std::string> names;
    while (qualified(CRYPT_NEXT) == 0) names.push_back(buffer);
    EXPECT_EQ(names, expected);

    HCRYPTPROV second = 0;
    ASSERT_EQ(Acquire(&second, expected[1].c_str(), 0), 0u);
    EXPECT_STREQ(ContextOf(second)->session.deviceName, tokensim::DeviceNameFor("B").c_str());
    tokentest::EditStore([](tokensim::State& s) { ASSERT_EQ(tokensim::SetPresent(s, "B", false), ""); });
    EXPECT_EQ(Acquire(&second, expected[1].c_str(), 0), DWORD(NTE_BAD_KEYSET));
}

TEST_F(ProviderContexts, TokenIdentifiersOfOneAndTwoTokens)
{
    AddToken("SN00000000000001");
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, nullptr, CRYPT_VERIFYCONTEXT), 0u);
    DWORD length = 0;
    ASSERT_EQ(GetProvParamImpl(context, 80, nullptr, &length, 0), 0u);
    EXPECT_EQ(length, 18u);
    // The size query gives the real length, whatever an identifier's.
    tokensim::TokenOptions longer;
    longer.label = "second";
    AddToken("SN0000000000000000000002", longer);
    ASSERT_EQ(GetProvParamImpl(context, 80, nullptr, &length, 0), 0u);
    EXPECT_EQ(length, 43u);

    std::vector<BYTE> list(length, 0xEE);
    ASSERT_EQ(GetProvParamImpl(context, 80, list.data(), &length, 0), 0u);
    const char expected[] = "SN00000000000001\0SN0000000000000000000002\0";
    ASSERT_EQ(length, sizeof expected);
    EXPECT_EQ(std::memcmp(list.data(), expected, sizeof expected), 0);

    std::vector<BYTE> shortList(sizeof expected - 1, 0xEE);
    length = static_cast<DWORD>(shortList.size());
    EXPECT_EQ(GetProvParamImpl(context, 80, shortList.data(), &length, 0), DWORD(NTE_BUFFER_TOO_SMALL));
    EXPECT_EQ(length, sizeof expected);
    EXPECT_EQ(shortList.back(), 0xEE);
}

struct WordParam {
    DWORD param;
    DWORD value;
};

class ProviderWords : public csptest::ProviderFixture, public ::testing::WithParamInterface<WordParam> { };

TEST_P(ProviderWords, AnswersItsWordAndRefusesShortBuffers)
{
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, nullptr, CRYPT_VERIFYCONTEXT), 0u);
    DWORD value = 0, length = 0;
    ASSERT_EQ(GetProvParamImpl(context, GetParam().param, nullptr, &length, 0), 0u);
    EXPECT_EQ(length, 4u);
    length = 3;
    EXPECT_EQ(GetProvParamImpl(context, GetParam().param, reinterpret_cast<BYTE*>(&value), &length, 0),
              DWORD(NTE_BUFFER_TOO_SMALL));
    length = 4;
    ASSERT_EQ(GetProvParamImpl(context, GetParam().param, reinterpret_cast<BYTE*>(&value), &length, 0), 0u);
    EXPECT_EQ(value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Words, ProviderWords,
                         ::testing::Values(WordParam {PP_IMPTYPE, 3}, WordParam {PP_VERSION, 0x200},
                                           WordParam {PP_PROVTYPE, 1}, WordParam {PP_KEYSTORAGE, 1},
                                           WordParam {PP_SIG_KEYSIZE_INC, 1024}, WordParam {PP_KEYSPEC, 3}));

TEST_F(ProviderContexts, NameAndUnknownParameters)
{
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, nullptr, CRYPT_VERIFYCONTEXT), 0u);
    char name[64];
    DWORD length = sizeof name;
    ASSERT_EQ(GetProvParamImpl(context, PP_NAME, reinterpret_cast<BYTE*>(name), &length, 0), 0u);
    EXPECT_EQ(length, 27u);
    EXPECT_STREQ(name, "VESK FOR LORVIN CSP v1.1.0");
    EXPECT_EQ(GetProvParamImpl(context, 9999, nullptr, &length, 0), DWORD(NTE_BAD_TYPE));
    EXPECT_EQ(SetProvParamImpl(context, 9999, nullptr), DWORD(NTE_BAD_TYPE));
}

TEST_F(ProviderContexts, PinParameterChecksLengthThenLogsInAndCaches)
{
    AddToken("A");
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, "c", CRYPT_NEWKEYSET), 0u);
    for (const char* pin : {"12345", "12345678901234567"})
        EXPECT_EQ(SetProvParamImpl(context, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE*>(pin)), DWORD(NTE_BAD_DATA));
    EXPECT_EQ(SetProvParamImpl(context, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE*>("87654321")),
              devicelib::UK_SW_WRONG_PIN | 5);
    ASSERT_EQ(SetProvParamImpl(context, PP_KEYEXCHANGE_PIN, reinterpret_cast<const BYTE*>(csptest::kUserPin)), 0u);
    EXPECT_EQ(ContextOf(context)->session.pinLength, 8u);

    HCRYPTPROV second = 0;
    ASSERT_EQ(Acquire(&second, "c", 0), 0u);
    EXPECT_EQ(std::memcmp(ContextOf(second)->session.pin, csptest::kUserPin, 8), 0);
}

} // namespace
