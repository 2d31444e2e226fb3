// OpenSSL's view of what the agent signs with the test provider's keys.
#pragma once

#include <string>
#include <vector>

namespace testcsp {

// Bytes of one padded line of Base64; empty when it does not decode.
std::vector<unsigned char> FromBase64(const std::string &text);
std::vector<unsigned char> FromBase64(const std::wstring &text);

// OpenSSL's verdict on a DER SM2 signature over SM3 with the Z value of
// the default identifier, by the key of a DER certificate.
bool VerifySM2(const std::vector<unsigned char> &certificate, const std::string &message,
               const std::vector<unsigned char> &signature);

} // namespace testcsp
