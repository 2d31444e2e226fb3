// tokensim: provisions the simulated tokens in the store that
// VESK_LORVIN_LIB.dll reads (SIGWELL_TOKENSIM_STATE).
#include "Provisioning.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

using namespace tokensim;

constexpr char kUsage[] = "usage: tokensim <command> [options]\n"
                          "  setup-default                 a present token VK0000000001 with an SM2 signature key\n"
                          "                                and certificate, unless the store holds a token already\n"
                          "  create --serial S [--label L] [--user-pin P] [--admin-pin P] [--no-admin-pin]\n"
                          "         [--factory-default] [--kind 1|2] [--tries N] [--absent]\n"
                          "  genkey --serial S [--container C] [--alg sm2|rsa] [--bits N] [--exchange]\n"
                          "  cert   --serial S [--container C] [--exchange] [--cn NAME] [--org NAME] [--days N]\n"
                          "  insert --serial S | remove --serial S | delete --serial S\n"
                          "  fault  --slot N --code C [--count K]   (K < 0: every call) | clear-faults\n"
                          "  ca     --out FILE                      the test CA certificate, DER\n"
                          "  list\n";

constexpr char kDefaultSerial[] = "VK0000000001";

struct Args {
    std::string command;
    std::map<std::string, std::string> values;

    bool Has(const std::string& key) const { return values.count(key) != 0; }
    std::string Get(const std::string& key, const std::string& fallback = "") const
    {
        auto it = values.find(key);
        return it == values.end() ? fallback : it->second;
    }
    long Number(const std::string& key, long fallback) const
    {
        return Has(key) ? std::strtol(Get(key).c_str(), nullptr, 0) : fallback;
    }
};

bool Parse(int argc, char** argv, Args& args)
{
    static const char* const flags[] = {"--no-admin-pin", "--factory-default", "--absent", "--exchange"};
    if (argc < 2) return false;
    args.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string key = argv[i];
        bool flag = false;
        for (const char* f : flags) flag = flag || key == f;
        if (flag) {
            args.values[key] = "1";
        } else if (key.rfind("--", 0) == 0 && i + 1 < argc) {
            args.values[key] = argv[++i];
        } else {
            return false;
        }
    }
    return true;
}

std::string SetupDefault(State& state)
{
    if (!state.tokens.empty()) return "";
    TokenOptions token;
    token.serial = kDefaultSerial;
    std::string error = AddToken(state, token);
    if (error.empty()) error = AddKeyPair(state, kDefaultSerial, KeyOptions());
    if (error.empty()) error = AddCertificate(state, kDefaultSerial, CertOptions());
    return error;
}

std::string WriteCa(State& state, const std::string& path)
{
    std::string error = EnsureTestCa(state);
    if (!error.empty()) return error;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return "cannot write " + path;
    bool ok = std::fwrite(state.caCert.data(), 1, state.caCert.size(), f) == state.caCert.size();
    return std::fclose(f) == 0 && ok ? "" : "cannot write " + path;
}

std::string Run(const Args& a, State& state)
{
    const std::string serial = a.Get("--serial");
    if (a.command == "setup-default") return SetupDefault(state);
    if (a.command == "list") {
        std::fputs(Describe(state).c_str(), stdout);
        return "";
    }
    if (a.command == "create") {
        TokenOptions o;
        o.serial = serial;
        o.label = a.Get("--label");
        o.userPin = a.Get("--user-pin", o.userPin);
        o.adminPin = a.Get("--admin-pin", o.adminPin);
        o.withAdminPin = !a.Has("--no-admin-pin");
        o.factoryDefault = a.Has("--factory-default");
        o.kind = static_cast<std::uint32_t>(a.Number("--kind", 1));
        o.maxTries = static_cast<std::uint32_t>(a.Number("--tries", 6));
        o.present = !a.Has("--absent");
        return AddToken(state, o);
    }
    if (a.command == "genkey") {
        KeyOptions o;
        o.container = a.Get("--container", o.container);
        bool rsa = a.Get("--alg", "sm2") == "rsa";
        o.algorithm = rsa ? 1 : 14;
        o.bits = static_cast<std::uint32_t>(a.Number("--bits", rsa ? 2048 : 256));
        o.signature = !a.Has("--exchange");
        return AddKeyPair(state, serial, o);
    }
    if (a.command == "cert") {
        CertOptions o;
        o.container = a.Get("--container", o.container);
        o.signature = !a.Has("--exchange");
        o.commonName = a.Get("--cn", o.commonName);
        o.organization = a.Get("--org", o.organization);
        o.days = static_cast<int>(a.Number("--days", o.days));
        return AddCertificate(state, serial, o);
    }
    if (a.command == "insert" || a.command == "remove") return SetPresent(state, serial, a.command == "insert");
    if (a.command == "delete") return RemoveToken(state, serial);
    if (a.command == "fault") {
        if (!a.Has("--slot") || !a.Has("--code")) return "fault needs --slot and --code";
        Fault f;
        f.slot = static_cast<std::uint32_t>(a.Number("--slot", 0));
        f.code = static_cast<std::uint32_t>(std::strtoul(a.Get("--code").c_str(), nullptr, 0));
        f.count = static_cast<std::int32_t>(a.Number("--count", 1));
        state.faults.push_back(f);
        return "";
    }
    if (a.command == "clear-faults") {
        state.faults.clear();
        return "";
    }
    if (a.command == "ca") return WriteCa(state, a.Get("--out", "tokensim-ca.cer"));
    return std::string("unknown command\n") + kUsage;
}

} // namespace

int main(int argc, char** argv)
{
    // No configuration file: the store's keys need none.
    if (!OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr)) return 1;
    Args args;
    if (!Parse(argc, argv, args)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    StateLock lock;
    State state;
    if (!lock.Load(state)) {
        std::fputs("tokensim: the token store is unreadable\n", stderr);
        return 1;
    }
    std::string error = Run(args, state);
    if (error.empty() && args.command != "list" && !lock.Save(state)) error = "the token store cannot be written";
    if (!error.empty()) {
        std::fprintf(stderr, "tokensim: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
