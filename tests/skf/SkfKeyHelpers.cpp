// OpenSSL's side of the SM2 ciphertext and SM4 conversions the key tests use.
#include "SkfKeyFixture.h"

#include <openssl/asn1.h>

namespace skftest {
namespace {

void PutLength(Bytes& out, std::size_t len)
{
    if (len < 0x80) {
        out.push_back(static_cast<BYTE>(len));
    } else if (len < 0x100) {
        out.insert(out.end(), {0x81, static_cast<BYTE>(len)});
    } else {
        out.insert(out.end(), {0x82, static_cast<BYTE>(len >> 8), static_cast<BYTE>(len)});
    }
}

void PutItem(Bytes& out, BYTE tag, const BYTE* data, std::size_t len)
{
    out.push_back(tag);
    PutLength(out, len);
    out.insert(out.end(), data, data + len);
}

void PutInteger(Bytes& out, const BYTE* value)
{
    std::size_t skip = 0;
    while (skip < 31 && value[skip] == 0) ++skip;
    Bytes v(value + skip, value + 32);
    if (v[0] & 0x80) v.insert(v.begin(), 0);
    PutItem(out, 0x02, v.data(), v.size());
}

bool GetItem(const BYTE*& p, const BYTE* end, BYTE tag, const BYTE*& content, std::size_t& len)
{
    if (end - p < 2 || *p++ != tag) return false;
    len = *p++;
    if (len & 0x80) {
        std::size_t n = len & 0x7F;
        len = 0;
        while (n--) len = (len << 8) | *p++;
    }
    content = p;
    p += len;
    return p <= end;
}

} // namespace

Bytes Sm2CipherDer(const ECCCIPHERBLOB& blob)
{
    Bytes body;
    PutInteger(body, blob.XCoordinate + 32);
    PutInteger(body, blob.YCoordinate + 32);
    PutItem(body, 0x04, blob.HASH, 32);
    PutItem(body, 0x04, blob.Cipher, blob.CipherLen);
    Bytes der;
    PutItem(der, 0x30, body.data(), body.size());
    return der;
}

Bytes Sm2CipherBlob(const Bytes& der)
{
    const BYTE* p = der.data();
    const BYTE* end = p + der.size();
    const BYTE *seq, *x, *y, *c3, *c2;
    std::size_t seqLen, xLen, yLen, c3Len, c2Len;
    if (!GetItem(p, end, 0x30, seq, seqLen)) return {};
    p = seq;
    if (!GetItem(p, end, 0x02, x, xLen) || !GetItem(p, end, 0x02, y, yLen) || !GetItem(p, end, 0x04, c3, c3Len) ||
        !GetItem(p, end, 0x04, c2, c2Len))
        return {};
    Bytes room(EccCipherBlobSize(static_cast<ULONG>(c2Len)));
    ECCCIPHERBLOB* blob = AsCipher(room);
    if (xLen > 32) x += xLen - 32, xLen = 32;
    if (yLen > 32) y += yLen - 32, yLen = 32;
    std::memcpy(blob->XCoordinate + 64 - xLen, x, xLen);
    std::memcpy(blob->YCoordinate + 64 - yLen, y, yLen);
    std::memcpy(blob->HASH, c3, 32);
    blob->CipherLen = static_cast<ULONG>(c2Len);
    std::memcpy(blob->Cipher, c2, c2Len);
    return room;
}

Bytes Sm4(const char* mode, const Bytes& key, const Bytes& iv, const Bytes& in, bool encrypt, bool pad)
{
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, mode, nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 32);
    int len = 0, last = 0;
    bool ok = cipher && ctx &&
        EVP_CipherInit_ex2(ctx, cipher, key.data(), iv.empty() ? nullptr : iv.data(), encrypt ? 1 : 0, nullptr) > 0 &&
        EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0) > 0 &&
        EVP_CipherUpdate(ctx, out.data(), &len, in.data(), static_cast<int>(in.size())) > 0 &&
        EVP_CipherFinal_ex(ctx, out.data() + len, &last) > 0;
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    if (!ok) return {};
    out.resize(static_cast<std::size_t>(len + last));
    return out;
}

} // namespace skftest
