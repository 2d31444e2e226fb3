#include "Provisioning.h"

#include "DeviceTable.h"
#include "TokenCrypto.h"

#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace tokensim {
namespace {

namespace ct = devicelib::container;

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
using Cert = std::unique_ptr<X509, X509Free>;

Container* FindContainerByName(Token& token, const std::string& name)
{
    for (Container& c : token.containers)
        if (c.name == name) return &c;
    return nullptr;
}

KeyPair Sm2FromScalar(const Bytes& scalar)
{
    KeyPair key;
    key.algorithm = devicelib::UK_ALG_SM2;
    key.bits = 256;
    key.privatePart = {scalar};
    key.publicPart.assign(2, Bytes());
    Sm2PublicFromScalar(scalar, key.publicPart[0], key.publicPart[1]);
    return key;
}

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    bool ok = ext && X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
    return ok;
}

void SetName(X509_NAME* name, const std::string& cn, const std::string& o)
{
    X509_NAME_add_entry_by_txt(name, "C", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("CN"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(o.c_str()), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1,
                               0);
}

// SM2 with SM3 and the standard's default signer identifier.
bool SignSm2(X509* cert, EVP_PKEY* caKey)
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, caKey, nullptr);
    bool ok = md && pctx && EVP_PKEY_CTX_set1_id(pctx, kSm2DefaultId, sizeof kSm2DefaultId - 1) > 0;
    if (ok) EVP_MD_CTX_set_pkey_ctx(md.get(), pctx);
    ok = ok && EVP_DigestSignInit_ex(md.get(), nullptr, "SM3", nullptr, nullptr, caKey, nullptr) > 0 &&
        X509_sign_ctx(cert, md.get()) > 0;
    EVP_MD_CTX_set_pkey_ctx(md.get(), nullptr);
    EVP_PKEY_CTX_free(pctx);
    return ok;
}

Cert MakeCertificate(EVP_PKEY* subjectKey, const std::string& cn, const std::string& o, X509* issuer, int days)
{
    Cert cert(X509_new());
    if (!cert) return nullptr;
    X509_set_version(cert.get(), 2);
    unsigned char serial[12];
    RandomBytes(serial, sizeof serial);
    serial[0] &= 0x7F;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), static_cast<long>(days) * 86400);
    SetName(X509_get_subject_name(cert.get()), cn, o);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : X509_get_subject_name(cert.get()));
    X509_set_pubkey(cert.get(), subjectKey);
    return cert;
}

Bytes ToDer(X509* cert)
{
    int len = i2d_X509(cert, nullptr);
    Bytes der(len > 0 ? len : 0);
    unsigned char* p = der.data();
    if (len <= 0 || i2d_X509(cert, &p) != len) der.clear();
    return der;
}

} // namespace

std::string AddToken(State& state, const TokenOptions& options)
{
    if (options.serial.empty() || options.serial.size() > 32) return "serial numbers have 1 to 32 characters";
    if (state.FindBySerial(options.serial)) return "a token with serial " + options.serial + " exists";
    for (const std::string* pin : {&options.userPin, &options.adminPin})
        if (pin->size() < 6 || pin->size() > 16) return "PINs have 6 to 16 characters";
    Token token;
    token.serial = options.serial;
    token.name = DeviceNameFor(options.serial);
    token.label = options.label.empty() ? "VESK UKey " + options.serial : options.label;
    if (token.label.size() > 32) return "labels have at most 32 characters";
    token.present = options.present;
    token.kind = options.kind;
    token.user = {options.userPin, options.maxTries, options.maxTries, options.factoryDefault};
    if (options.withAdminPin) token.admin = Pin {options.adminPin, options.maxTries, options.maxTries, false};
    state.tokens.push_back(token);
    return "";
}

std::string AddKeyPair(State& state, const std::string& serial, const KeyOptions& options)
{
    Token* token = state.FindBySerial(serial);
    if (!token) return "no token " + serial;
    bool rsa = options.algorithm == devicelib::UK_ALG_RSA;
    if (rsa ? options.bits != 1024 && options.bits != 2048 : options.bits != 256) return "unsupported key size";
    Container* c = FindContainerByName(*token, options.container);
    if (!c) c = token->AddContainer(options.container);
    if (!c) return "the token holds no more containers";
    if (c->header[ct::kAlgorithm] && c->header[ct::kAlgorithm] != options.algorithm)
        return "the container holds keys of the other algorithm";
    KeyPair key;
    key.number = c->header[options.signature ? ct::kSignaturePublic + 1 : ct::kExchangePublic + 1];
    if (!GenerateKeyPair(options.algorithm, options.bits, key)) return "key generation failed";
    token->keys.erase(std::remove_if(token->keys.begin(), token->keys.end(),
                                     [&](const KeyPair& k) { return k.number == key.number; }),
                      token->keys.end());
    token->keys.push_back(key);
    // The same header bytes the provider writes after generating on the card.
    c->header[ct::kAlgorithm] = static_cast<std::uint8_t>(options.algorithm);
    c->header[options.signature ? ct::kSignatureSize : ct::kExchangeSize] =
        static_cast<std::uint8_t>(rsa ? options.bits / 1024 : 1);
    return "";
}

std::string EnsureTestCa(State& state)
{
    if (!state.caKey.empty() && !state.caCert.empty()) return "";
    KeyPair ca;
    if (!GenerateKeyPair(devicelib::UK_ALG_SM2, 256, ca)) return "CA key generation failed";
    Pkey pkey = ToPkey(ca, true);
    Cert cert = pkey ? MakeCertificate(pkey.get(), "Sigwell Test CA", "Sigwell Test", nullptr, 3650) : nullptr;
    if (!cert || !AddExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE") ||
        !AddExtension(cert.get(), cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign") ||
        !AddExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash") || !SignSm2(cert.get(), pkey.get()))
        return "CA certificate failed";
    state.caKey = ca.privatePart[0];
    state.caCert = ToDer(cert.get());
    return state.caCert.empty() ? "CA certificate failed" : "";
}

std::string AddCertificate(State& state, const std::string& serial, const CertOptions& options)
{
    std::string error = EnsureTestCa(state);
    if (!error.empty()) return error;
    Token* token = state.FindBySerial(serial);
    if (!token) return "no token " + serial;
    Container* c = FindContainerByName(*token, options.container);
    if (!c) return "no container " + options.container;
    const KeyPair* key =
        token->FindKey(c->header[options.signature ? ct::kSignaturePublic + 1 : ct::kExchangePublic + 1]);
    if (!key) return "the container has no such key pair";
    Pkey subjectKey = ToPkey(*key, false);
    Pkey caKey = ToPkey(Sm2FromScalar(state.caKey), true);
    const unsigned char* p = state.caCert.data();
    Cert caCert(d2i_X509(nullptr, &p, static_cast<long>(state.caCert.size())));
    if (!subjectKey || !caKey || !caCert) return "the key or the CA is unreadable";
    Cert cert = MakeCertificate(subjectKey.get(), options.commonName, options.organization, caCert.get(), options.days);
    const char* usage =
        options.signature ? "critical,digitalSignature,nonRepudiation" : "critical,keyEncipherment,dataEncipherment";
    if (!cert || !AddExtension(cert.get(), caCert.get(), NID_key_usage, usage) ||
        !AddExtension(cert.get(), caCert.get(), NID_basic_constraints, "CA:FALSE") ||
        !AddExtension(cert.get(), caCert.get(), NID_authority_key_identifier, "keyid:always") ||
        !SignSm2(cert.get(), caKey.get()))
        return "certificate failed";
    Certificate record {c->header[options.signature ? ct::kSignatureCert + 1 : ct::kExchangeCert + 1],
                        ToDer(cert.get())};
    if (record.data.empty() || record.data.size() > devicelib::UK_MAX_CERT_LEN) return "certificate failed";
    token->certs.erase(std::remove_if(token->certs.begin(), token->certs.end(),
                                      [&](const Certificate& x) { return x.number == record.number; }),
                       token->certs.end());
    token->certs.push_back(record);
    return "";
}

std::string SetPresent(State& state, const std::string& serial, bool present)
{
    Token* token = state.FindBySerial(serial);
    if (!token) return "no token " + serial;
    if (present && !token->present) ++token->insertion;
    token->present = present;
    return "";
}

std::string RemoveToken(State& state, const std::string& serial)
{
    auto it =
        std::find_if(state.tokens.begin(), state.tokens.end(), [&](const Token& t) { return t.serial == serial; });
    if (it == state.tokens.end()) return "no token " + serial;
    state.tokens.erase(it);
    return "";
}

std::string Describe(const State& state)
{
    std::string text;
    char line[512];
    for (const Token& t : state.tokens) {
        std::snprintf(line, sizeof line, "token %s  label \"%s\"  %s  kind %u\n  device %s\n", t.serial.c_str(),
                      t.label.c_str(), t.present ? "present" : "absent", t.kind, t.name.c_str());
        text += line;
        std::snprintf(line, sizeof line, "  user PIN: %u of %u tries left%s; admin PIN: %s\n", t.user.triesLeft,
                      t.user.maxTries, t.user.factoryDefault ? ", factory default" : "", t.admin ? "set" : "none");
        text += line;
        for (const Container& c : t.containers) {
            std::snprintf(line, sizeof line,
                          "  container %u \"%s\": algorithm %u, exchange size %u (pair %u, cert %u), signature size %u "
                          "(pair %u, cert %u)\n",
                          c.Number(), c.name.c_str(), c.header[ct::kAlgorithm], c.header[ct::kExchangeSize],
                          c.header[ct::kExchangePublic + 1], c.header[ct::kExchangeCert + 1],
                          c.header[ct::kSignatureSize], c.header[ct::kSignaturePublic + 1],
                          c.header[ct::kSignatureCert + 1]);
            text += line;
        }
        for (const KeyPair& k : t.keys) {
            std::snprintf(line, sizeof line, "  key pair %u: %s %u bits%s\n", k.number,
                          k.algorithm == devicelib::UK_ALG_RSA ? "RSA" : "SM2", k.bits,
                          k.privatePart.empty() ? ", public half only" : "");
            text += line;
        }
        for (const Certificate& c : t.certs) {
            std::snprintf(line, sizeof line, "  certificate %u: %zu bytes\n", c.number, c.data.size());
            text += line;
        }
        for (const DataObject& d : t.objects) {
            std::snprintf(line, sizeof line, "  data object \"%s\": %zu bytes\n", d.name.c_str(), d.data.size());
            text += line;
        }
    }
    for (const Fault& f : state.faults) {
        std::snprintf(line, sizeof line, "fault: slot %u answers 0x%08X (%d more)\n", f.slot, f.code, f.count);
        text += line;
    }
    return text.empty() ? "no tokens\n" : text;
}

} // namespace tokensim
