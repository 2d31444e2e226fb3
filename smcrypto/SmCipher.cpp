#include "SmEvp.h"

#include "Sm4.h"
#include "SmObjects.h"
#include "Zuc.h"

namespace {

int sm4_init_key(EVP_CIPHER_CTX *ctx, const unsigned char *key, const unsigned char *, int enc)
{
    auto *k = static_cast<SM4_KEY *>(EVP_CIPHER_CTX_get_cipher_data(ctx));
    if (k == nullptr || key == nullptr) return 0;
    return Sm4KeyFromBytes(k, key, enc);
}

int sm4_cbc_cipher(EVP_CIPHER_CTX *ctx, unsigned char *out, const unsigned char *in, size_t len)
{
    auto *k = static_cast<SM4_KEY *>(EVP_CIPHER_CTX_get_cipher_data(ctx));
    if (k == nullptr) return 0;
    return sm4_cbc_blocks(in, len / SM4_BLOCK_SIZE, k->rk, EVP_CIPHER_CTX_iv_noconst(ctx), out,
                          EVP_CIPHER_CTX_is_encrypting(ctx));
}

int zuc_init_key(EVP_CIPHER_CTX *ctx, const unsigned char *key, const unsigned char *iv, int)
{
    auto *st = static_cast<ZUC_STATE *>(EVP_CIPHER_CTX_get_cipher_data(ctx));
    // A key stream from an unknown IV would be read from whatever memory
    // the caller left, so no IV is refused.
    if (st == nullptr || key == nullptr || iv == nullptr) return 0;
    // The length is variable by the method's flags, but the key set-up
    // reads 16 bytes: any other length would be read past.
    if (EVP_CIPHER_CTX_get_key_length(ctx) != int(ZUC_KEY_LENGTH)) return 0;
    zuc_initialize(key, iv, st);
    return 1;
}

int zuc_cipher(EVP_CIPHER_CTX *ctx, unsigned char *out, const unsigned char *in, size_t len)
{
    auto *st = static_cast<ZUC_STATE *>(EVP_CIPHER_CTX_get_cipher_data(ctx));
    if (st == nullptr) return 0;
    ZucXorStream(st, in, out, len);
    return 1;
}

using InitFn = int (*)(EVP_CIPHER_CTX *, const unsigned char *, const unsigned char *, int);
using CipherFn = int (*)(EVP_CIPHER_CTX *, unsigned char *, const unsigned char *, size_t);

EVP_CIPHER *NewCipher(int nid, int blockSize, int keyLen, int ivLen, unsigned long flags, InitFn init,
                      CipherFn doCipher, int ctxSize)
{
    if (nid == NID_undef) return nullptr;
    EVP_CIPHER *c = EVP_CIPHER_meth_new(nid, blockSize, keyLen);
    if (c == nullptr) return nullptr;
    if (!EVP_CIPHER_meth_set_iv_length(c, ivLen) || !EVP_CIPHER_meth_set_flags(c, flags) ||
        !EVP_CIPHER_meth_set_init(c, init) || !EVP_CIPHER_meth_set_do_cipher(c, doCipher) ||
        !EVP_CIPHER_meth_set_impl_ctx_size(c, ctxSize)) {
        EVP_CIPHER_meth_free(c);
        return nullptr;
    }
    return c;
}

} // namespace

const EVP_CIPHER *EVP_smcrypto_sm4_cbc()
{
    static const EVP_CIPHER *const c = NewCipher(SM_NID_SM4_CBC, SM4_BLOCK_SIZE, SM4_KEY_LENGTH, SM4_BLOCK_SIZE,
                                                 EVP_CIPH_CBC_MODE, sm4_init_key, sm4_cbc_cipher, sizeof(SM4_KEY));
    return c;
}

const EVP_CIPHER *EVP_zuc()
{
    static const EVP_CIPHER *const c =
        NewCipher(SmNidZuc(), 1, ZUC_KEY_LENGTH, ZUC_IV_LENGTH, EVP_CIPH_STREAM_CIPHER | EVP_CIPH_VARIABLE_LENGTH,
                  zuc_init_key, zuc_cipher, sizeof(ZUC_STATE));
    return c;
}
