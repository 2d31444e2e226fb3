#include "Sm3.h"
#include "SmAlgorithms.h"
#include "SmEvp.h"
#include "TestDigest.h"
#include "VectorFile.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using namespace test_vectors;

using DigestFn = std::function<std::vector<uint8_t>(const std::vector<uint8_t> &, size_t chunk)>;

struct Sm3Impl {
    const char *name;
    DigestFn digest;
};

std::vector<uint8_t> CoreDigest(const std::vector<uint8_t> &data, size_t chunk)
{
    SM3_CTX ctx;
    sm3_init(&ctx);
    for (size_t i = 0; i < data.size(); i += chunk) sm3_update(&ctx, data.data() + i, std::min(chunk, data.size() - i));
    std::vector<uint8_t> out(SM3_DIGEST_LENGTH);
    sm3_final(out.data(), &ctx);
    return out;
}

const Sm3Impl kImpls[] = {
    {"Core", CoreDigest},
    {"OurEvpMethod", [](const std::vector<uint8_t> &d, size_t c) { return EvpDigest(EVP_smcrypto_sm3(), d, c); }},
    {"LibraryEvp", [](const std::vector<uint8_t> &d, size_t c) { return EvpDigest(EVP_sm3(), d, c); }},
};

class Sm3Contract : public ::testing::TestWithParam<Sm3Impl> { };

TEST_P(Sm3Contract, PublishedVectors)
{
    for (const Stanza &s : ReadVectorFile("sm3.txt")) {
        std::vector<uint8_t> in = Hex(s.at("Input"));
        EXPECT_EQ(ToHex(GetParam().digest(in, in.size() + 1)), s.at("Output")) << s.at("Input");
    }
}

TEST_P(Sm3Contract, ChunkingDoesNotChangeDigest)
{
    std::vector<uint8_t> data = Pattern(1000, 7);
    std::vector<uint8_t> whole = GetParam().digest(data, data.size());
    for (size_t chunk : {1, 63, 64, 65}) EXPECT_EQ(GetParam().digest(data, chunk), whole) << "chunk " << chunk;
}

INSTANTIATE_TEST_SUITE_P(Sm3, Sm3Contract, ::testing::ValuesIn(kImpls),
                         [](const auto &info) { return std::string(info.param.name); });

// Lengths around the padding boundaries (55 fits one block, 56 needs two)
// and across several blocks agree with libcrypto's own SM3.
TEST(Sm3, EveryLengthMatchesLibrary)
{
    for (size_t len = 0; len <= 200; ++len) {
        std::vector<uint8_t> data = Pattern(len, uint32_t(len));
        ASSERT_EQ(CoreDigest(data, 17), EvpDigest(EVP_sm3(), data, data.size() + 1)) << "length " << len;
    }
}

TEST(Sm3, FinalClearsBufferAndNullContextFails)
{
    SM3_CTX ctx;
    sm3_init(&ctx);
    sm3_update(&ctx, "abc", 3);
    uint8_t d[SM3_DIGEST_LENGTH];
    ASSERT_EQ(sm3_final(d, &ctx), 1);
    for (uint8_t b : ctx.buffer) ASSERT_EQ(b, 0);
    EXPECT_EQ(sm3_init(nullptr), 0);
    EXPECT_EQ(sm3_update(nullptr, "a", 1), 0);
    EXPECT_EQ(sm3_final(d, nullptr), 0);
}

} // namespace
