#include "SmEvp.h"

#include "Sm3.h"
#include "SmObjects.h"

namespace {

SM3_CTX *Sm3Of(EVP_MD_CTX *ctx)
{
    return static_cast<SM3_CTX *>(EVP_MD_CTX_md_data(ctx));
}

int sm3_md_init(EVP_MD_CTX *ctx)
{
    return sm3_init(Sm3Of(ctx));
}

int sm3_md_update(EVP_MD_CTX *ctx, const void *data, size_t len)
{
    return sm3_update(Sm3Of(ctx), data, len);
}

int sm3_md_final(EVP_MD_CTX *ctx, unsigned char *md)
{
    return sm3_final(md, Sm3Of(ctx));
}

// The library of this build has no EVP_MD_FLAG_PKEY_METHOD_SIGNATURE:
// signing goes through the explicit SM2 functions instead, so no flag.
EVP_MD *NewSm3Method()
{
    EVP_MD *md = EVP_MD_meth_new(SM_NID_SM3, SM_NID_SM2_WITH_SM3);
    if (md == nullptr) return nullptr;
    if (!EVP_MD_meth_set_result_size(md, SM3_DIGEST_LENGTH) || !EVP_MD_meth_set_input_blocksize(md, SM3_BLOCK_SIZE) ||
        !EVP_MD_meth_set_app_datasize(md, sizeof(SM3_CTX)) || !EVP_MD_meth_set_flags(md, 0) ||
        !EVP_MD_meth_set_init(md, sm3_md_init) || !EVP_MD_meth_set_update(md, sm3_md_update) ||
        !EVP_MD_meth_set_final(md, sm3_md_final)) {
        EVP_MD_meth_free(md);
        return nullptr;
    }
    return md;
}

} // namespace

const EVP_MD *EVP_smcrypto_sm3()
{
    static const EVP_MD *const md = NewSm3Method();
    return md;
}
