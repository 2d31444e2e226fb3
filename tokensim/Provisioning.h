// Setting up simulated tokens outside any slot call: what the tokensim
// tool and the tests use to put a card in a known state.
#pragma once

#include "TokenState.h"

#include <string>

namespace tokensim {

struct TokenOptions {
    std::string serial;
    std::string label;
    std::string userPin = "12345678";
    std::string adminPin = "87654321";
    bool withAdminPin = true;
    bool factoryDefault = false;
    std::uint32_t maxTries = 6;
    std::uint32_t kind = 1;
    bool present = true;
};

struct KeyOptions {
    std::string container = "Kelto CSP Container";
    std::uint32_t algorithm = 14; // vendor code: 1 RSA, 14 SM2
    std::uint32_t bits = 256;
    bool signature = true; // else the exchange pair
};

struct CertOptions {
    std::string container = "Kelto CSP Container";
    bool signature = true;
    std::string commonName = "Sigwell Test User";
    std::string organization = "Sigwell Test";
    int days = 365;
};

// Each returns an empty string on success, else what went wrong.
std::string AddToken(State& state, const TokenOptions& options);
std::string AddKeyPair(State& state, const std::string& serial, const KeyOptions& options);
std::string AddCertificate(State& state, const std::string& serial, const CertOptions& options);
std::string SetPresent(State& state, const std::string& serial, bool present);
std::string RemoveToken(State& state, const std::string& serial);

// The test CA (SM2, signing with SM3), made on first use.
std::string EnsureTestCa(State& state);

std::string Describe(const State& state);

} // namespace tokensim
