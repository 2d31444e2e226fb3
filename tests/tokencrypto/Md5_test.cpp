#include "tokencrypto/Md5.h"

#include <gtest/gtest.h>

#include "VectorFile.h"

namespace {

using namespace tokencrypto;
using test_vectors::Bytes;
using test_vectors::Hex;

std::vector<uint8_t> Md5Pieces(const std::vector<uint8_t>& data, size_t piece)
{
    Md5Context context;
    MD5_Init(&context);
    for (size_t offset = 0; offset < data.size(); offset += piece) {
        MD5_Update(&context, data.data() + offset, uint32_t(std::min(piece, data.size() - offset)));
    }
    std::vector<uint8_t> digest(16);
    MD5_Final(digest.data(), &context);
    return digest;
}

class Md5Vectors : public ::testing::TestWithParam<test_vectors::Stanza> { };

TEST_P(Md5Vectors, DigestMatchesRfc1321InAnyPieces)
{
    const auto& stanza = GetParam();
    const auto input = Bytes(stanza.at("Input"));
    for (size_t piece : {1, 7, 63, 64, 1000}) {
        EXPECT_EQ(Hex(stanza.at("Digest")), Md5Pieces(input, piece)) << stanza.at("Name") << " piece " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(Rfc1321, Md5Vectors, ::testing::ValuesIn(test_vectors::ReadVectorFile("md5_rfc1321.txt")));

} // namespace
