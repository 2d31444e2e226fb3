// The SM3, SM4-CBC and ZUC methods in the crypto library's legacy method
// form, made once per process and kept for its lifetime. The library's own
// EVP_sm3 and EVP_sm4_cbc exist, hence the longer names.
#pragma once

#include <openssl/evp.h>

const EVP_MD *EVP_smcrypto_sm3();
const EVP_CIPHER *EVP_smcrypto_sm4_cbc();
const EVP_CIPHER *EVP_zuc();
