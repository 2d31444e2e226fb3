// The simulated tokens as they persist between calls and processes: the
// records a card would keep, and the store file that holds them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tokensim {

using Bytes = std::vector<std::uint8_t>;

struct Pin {
    std::string value;
    std::uint32_t triesLeft = 6;
    std::uint32_t maxTries = 6;
    bool factoryDefault = false;
};

struct Container {
    std::uint8_t header[17] = {}; // byte 1 is the number
    std::string name;
    std::uint8_t Number() const { return header[1]; }
};

// Both halves of a pair live under one number. RSA: publicPart {n, e},
// privatePart {d, p, q, dp, dq, qinv}; SM2: publicPart {x, y},
// privatePart {d}. Values big-endian at fixed width: RSA n = bits / 8
// bytes for n, e and d, n / 2 for the CRT values; SM2 32 bytes.
struct KeyPair {
    std::uint8_t number = 0;
    std::uint32_t algorithm = 0;
    std::uint32_t bits = 0;
    std::vector<Bytes> publicPart;
    std::vector<Bytes> privatePart;
};

struct Certificate {
    std::uint8_t number = 0;
    Bytes data;
};

struct DataObject {
    std::string name;
    Bytes data;
};

struct Token {
    std::string name; // the device interface path EnumToken lists
    std::string label;
    std::string serial;
    bool present = true;
    // Counts the times the token was plugged in again: a handle opened
    // before the last removal is dead, with its login.
    std::uint32_t insertion = 0;
    std::uint32_t kind = 1; // 2: keeps the signed data and hashes it itself
    Pin user;
    std::optional<Pin> admin;
    std::vector<Container> containers;
    std::vector<KeyPair> keys;
    std::vector<Certificate> certs;
    std::vector<DataObject> objects;

    Container* FindContainer(std::uint8_t number);
    KeyPair* FindKey(std::uint8_t number);
    Certificate* FindCert(std::uint8_t number);
    DataObject* FindObject(const std::string& objectName);
    // A new container with its header as the card assigns it: its number
    // and the references of both key pairs and both certificates. Null
    // when the card is full.
    Container* AddContainer(const std::string& containerName);
};

// A test makes slot N answer code C for the next count calls (count < 0:
// every call). With answerLength set, SendAPDUCmd instead succeeds with a
// response of that many bytes, as a broken card might.
struct Fault {
    std::uint32_t slot = 0;
    std::uint32_t code = 0;
    std::int32_t count = 1;
    std::int32_t answerLength = -1;
};

struct State {
    std::vector<Token> tokens;
    std::vector<Fault> faults;
    Bytes caKey;  // the test CA's SM2 scalar
    Bytes caCert; // DER

    Token* FindToken(const std::string& name); // case-insensitive
    Token* FindBySerial(const std::string& serial);
};

// The store path: SIGWELL_TOKENSIM_STATE, else
// %USERPROFILE%\tokensim\state.json.
std::wstring StatePath();

// Holds the store file open and locked: while one exists, no other thread
// or process reads or writes the tokens.
class StateLock {
public:
    StateLock();
    ~StateLock();
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

    bool Load(State& state);
    bool Save(const State& state);

private:
    void* m_file;
};

std::string ToJson(const State& state);
bool FromJson(const std::string& text, State& state);

// Device name for a serial number: a CD-ROM interface path, as the token
// enumerates on the USB bus.
std::string DeviceNameFor(const std::string& serial);

} // namespace tokensim
