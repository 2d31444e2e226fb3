// SM3 digests through the library's exports: every digest starts with the
// SM2 Z value of the caller's public key and ID.
#include "SkfDigestExports.h"
#include "SkfKeyExports.h"
#include "SkfMoreExports.h"
#include "tokencrypto/Sm3.h"

#include <array>
#include <cstring>

namespace {

using namespace skftest;

using Digest = std::array<BYTE, 32>;

// The recommended curve's a, b and base point, big-endian.
const char kCurveA[] = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC";
const char kCurveB[] = "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93";
const char kBaseX[] = "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7";
const char kBaseY[] = "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0";
const char kKeyX[] = "09F9DF311E5421A150DD7D161E4BC5C672179FAD1833FC076BB08FF356F35020";
const char kKeyY[] = "CCEA490CE26775A52DC6EA718CC1AA600AED05FBF35E084A6632F6072DA9AD13";

std::vector<BYTE> FromHex(const char* hex)
{
    std::vector<BYTE> bytes;
    for (std::size_t i = 0; hex[i] && hex[i + 1]; i += 2)
        bytes.push_back(static_cast<BYTE>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return bytes;
}

Digest Sm3(const std::vector<BYTE>& data)
{
    tokencrypto::Sm3Context ctx;
    tokencrypto::SM3_Init(&ctx);
    tokencrypto::SM3_Update(&ctx, data.data(), static_cast<std::uint32_t>(data.size()));
    Digest out;
    tokencrypto::SM3_Final(&ctx, out.data());
    return out;
}

void Append(std::vector<BYTE>& to, const std::vector<BYTE>& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

// SM3(ENTL || ID || a || b || xG || yG || xA || yA) || message, then SM3.
Digest Expected(const std::string& id, const std::string& message)
{
    std::vector<BYTE> zInput;
    std::size_t bits = id.size() * 8;
    zInput.push_back(static_cast<BYTE>(bits >> 8));
    zInput.push_back(static_cast<BYTE>(bits));
    zInput.insert(zInput.end(), id.begin(), id.end());
    for (const char* part : {kCurveA, kCurveB, kBaseX, kBaseY, kKeyX, kKeyY}) Append(zInput, FromHex(part));
    Digest z = Sm3(zInput);
    std::vector<BYTE> outer(z.begin(), z.end());
    outer.insert(outer.end(), message.begin(), message.end());
    return Sm3(outer);
}

// ECCPUBLICKEYBLOB: BitLen, X[64], Y[64], coordinates right-aligned.
std::array<BYTE, 132> PublicKeyBlob()
{
    std::array<BYTE, 132> blob {};
    blob[0] = 0x00;
    blob[1] = 0x01; // 256 bits, little-endian
    std::vector<BYTE> x = FromHex(kKeyX), y = FromHex(kKeyY);
    std::memcpy(&blob[36], x.data(), 32);
    std::memcpy(&blob[100], y.data(), 32);
    return blob;
}

struct DigestExports {
    decltype(&SKF_DigestInit) Init = SKF_EXPORT(SKF_DigestInit);
    decltype(&SKF_Digest) Once = SKF_EXPORT(SKF_Digest);
    decltype(&SKF_DigestUpdate) Update = SKF_EXPORT(SKF_DigestUpdate);
    decltype(&SKF_DigestFinal) Final = SKF_EXPORT(SKF_DigestFinal);
    decltype(&SKF_CloseHandle) Close = SKF_EXPORT(SKF_CloseHandle);
};

constexpr ULONG kSm3 = 1, kSha1 = 2, kSha256 = 4;
constexpr ULONG kNullHandleInner = 0x1000000B;

class Digests : public SkfTest {
protected:
    void SetUp() override
    {
        SkfTest::SetUp();
        ASSERT_TRUE(D.Init && D.Once && D.Update && D.Final && D.Close);
        m_dev = Connect(Serial(1));
        ASSERT_NE(m_dev, nullptr);
    }
    ULONG Init(ULONG alg, const std::string& id, HANDLE* hash)
    {
        return D.Init(m_dev, alg, Key(), reinterpret_cast<unsigned char*>(Text(id)), static_cast<ULONG>(id.size()),
                      hash);
    }
    HANDLE Begin(const std::string& id = "1234567812345678")
    {
        HANDLE hash = nullptr;
        EXPECT_EQ(Init(kSm3, id, &hash), SAR_OK);
        return hash;
    }
    ECCPUBLICKEYBLOB* Key() { return reinterpret_cast<ECCPUBLICKEYBLOB*>(m_key.data()); }
    BYTE* Bytes(const std::string& s) { return reinterpret_cast<BYTE*>(Text(s)); }

    DigestExports D;
    std::array<BYTE, 132> m_key = PublicKeyBlob();
    DEVHANDLE m_dev = nullptr;
};

TEST_F(Digests, OneCallAndPiecesGiveSm3OverZAndTheData)
{
    Digest out {};
    ULONG len = sizeof out;
    ASSERT_EQ(D.Once(Begin(), Bytes("abc"), 3, out.data(), &len), SAR_OK);
    EXPECT_EQ(len, 32u);
    EXPECT_EQ(out, Expected("1234567812345678", "abc"));

    HANDLE hash = Begin("ALICE123@YAHOO.COM");
    std::string message = "message digest, fed in three pieces";
    ASSERT_EQ(D.Update(hash, Bytes(message.substr(0, 7)), 7), SAR_OK);
    ASSERT_EQ(D.Update(hash, nullptr, 0), SAR_OK);
    ASSERT_EQ(D.Update(hash, Bytes(message.substr(7)), static_cast<ULONG>(message.size() - 7)), SAR_OK);
    len = sizeof out;
    ASSERT_EQ(D.Final(hash, out.data(), &len), SAR_OK);
    EXPECT_EQ(out, Expected("ALICE123@YAHOO.COM", message));

    len = sizeof out;
    ASSERT_EQ(D.Once(Begin(), nullptr, 0, out.data(), &len), SAR_OK);
    EXPECT_EQ(out, Expected("1234567812345678", ""));
}

TEST_F(Digests, ClosedHandleIsWipedAndRefused)
{
    HANDLE hash = Begin();
    // Less than a block after Z: it stays in the context, uncompressed.
    Secret secret(30, 0x5EC3E7);
    std::vector<BYTE> clear = secret.Clear();
    ASSERT_EQ(D.Update(hash, clear.data(), 30), SAR_OK);
    Secret::Wipe(clear);
    ASSERT_EQ(D.Close(hash), SAR_OK);
    EXPECT_FALSE(secret.InMemory());
    EXPECT_EQ(D.Update(hash, Bytes("abc"), 3), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(D.Close(hash), SAR_INVALIDHANDLEERR);
}

TEST_F(Digests, OnlySm3WithAnIdAndAKey)
{
    HANDLE hash = nullptr;
    EXPECT_EQ(Init(kSha1, "id", &hash), SAR_INVALIDPARAMERR);
    EXPECT_EQ(Init(kSha256, "id", &hash), SAR_INVALIDPARAMERR);
    EXPECT_EQ(Init(kSm3, "", &hash), SAR_INVALIDPARAMERR);
    // Longer IDs do not fit the Z value's two-byte bit count.
    EXPECT_EQ(Init(kSm3, std::string(8192, 'i'), &hash), SAR_INVALIDPARAMERR);
    EXPECT_EQ(hash, nullptr);
    Digest out {};
    ULONG len = sizeof out;
    ASSERT_EQ(D.Once(Begin(std::string(8191, 'i')), Bytes("abc"), 3, out.data(), &len), SAR_OK);
    EXPECT_EQ(out, Expected(std::string(8191, 'i'), "abc"));
    unsigned char id[] = "id";
    EXPECT_EQ(D.Init(m_dev, kSm3, Key(), nullptr, 2, &hash), SAR_INVALIDPARAMERR);
    EXPECT_EQ(D.Init(m_dev, kSm3, nullptr, id, 2, &hash), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(D.Init(nullptr, kSm3, Key(), id, 2, &hash), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(D.Init(m_dev, kSm3, Key(), id, 2, nullptr), SAR_INVALIDHANDLEERR);
    LogTail log;
    EXPECT_EQ(Init(0x00000400, "id", &hash), SAR_INVALIDPARAMERR);
    EXPECT_TRUE(log.Has("not support alg[0x400]"));
}

TEST_F(Digests, ShortBuffersAndMissingHandlesAreRefused)
{
    HANDLE hash = Begin();
    ULONG len = 0;
    ASSERT_EQ(D.Once(hash, Bytes("abc"), 3, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 32u);
    BYTE small[16];
    len = sizeof small;
    EXPECT_EQ(D.Once(hash, Bytes("abc"), 3, small, &len), SAR_INDATALENERR);
    len = sizeof small;
    EXPECT_EQ(D.Final(hash, small, &len), SAR_BUFFER_TOO_SMALL);
    len = 0;
    ASSERT_EQ(D.Final(hash, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 32u);

    // The refusals left the data unhashed.
    Digest out {};
    len = sizeof out;
    ASSERT_EQ(D.Once(hash, Bytes("abc"), 3, out.data(), &len), SAR_OK);
    EXPECT_EQ(out, Expected("1234567812345678", "abc"));

    EXPECT_EQ(D.Update(nullptr, Bytes("abc"), 3), kNullHandleInner);
    EXPECT_EQ(D.Once(nullptr, Bytes("abc"), 3, out.data(), &len), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(D.Final(nullptr, out.data(), &len), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(D.Final(Begin(), out.data(), nullptr), SAR_INVALIDPARAMERR);
    // A device handle is not a hash handle.
    EXPECT_EQ(D.Update(m_dev, Bytes("abc"), 3), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(D.Final(m_dev, out.data(), &len), SAR_INVALIDHANDLEERR);
}

} // namespace
