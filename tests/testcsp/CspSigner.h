// The test provider's hashes and signatures, made with libcrypto so that
// what the agent wraps around them can be verified by openssl.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace testcsp {

// SM3 under the value the token's provider gives it.
constexpr ALG_ID TESTCSP_CALG_SM3 = 0x800F;

bool IsSupportedHash(ALG_ID algId);

// Digest of the message, or an empty value for an unknown algorithm.
std::vector<BYTE> ComputeHash(ALG_ID algId, const std::vector<BYTE> &message);

// The signature as CryptoAPI hands it out: RSA least significant byte
// first; SM2 as r then s, each 32 bytes least significant byte first. An
// SM2 signature covers SM3(Z || message) with the default user id unless
// the caller replaced the hash value. Returns 0 or an NTE code.
DWORD SignWithKey(const std::string &privateKeyPath, ALG_ID algId, const std::vector<BYTE> &message,
                  const std::vector<BYTE> &hashValue, bool hashValueReplaced, std::vector<BYTE> &signature);

} // namespace testcsp
