// What one process holds of the tokens: open device handles with their
// login state, and the operations started on them. Every slot runs through
// RunOnToken or RunOnState, which lock the store, apply injected faults,
// write the journal line and save what changed.
#pragma once

#include "DeviceTable.h"
#include "TokenCrypto.h"
#include "TokenState.h"

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace tokensim {

struct DeviceSession {
    std::string tokenName;
    std::uint32_t insertion = 0; // of the token when the handle was opened
    bool userLoggedIn = false;
    bool adminLoggedIn = false;
    // The cipher of the B0 9B command family: one loaded key per handle.
    std::unique_ptr<BlockCipher> apduCipher;
    Bytes apduOutput;
};

struct AsymOperation {
    devicelib::UK_HANDLE device = 0;
    std::uint8_t algorithm = 0;
    std::uint8_t usage = 0;
    std::uint8_t padding = 0;
    std::uint8_t keyNumber = 0; // 0: the caller's own public key below
    KeyPair material;
};

struct SymOperation {
    devicelib::UK_HANDLE device = 0;
    std::unique_ptr<BlockCipher> cipher;
};

struct HashOperation {
    devicelib::UK_HANDLE device = 0;
    std::unique_ptr<Digest> digest;
};

struct Call {
    State& state;
    Token& token;
    DeviceSession& session;
    bool dirty = false;
};

// A recursive lock over a critical section. The thread library's mutexes
// and once-only initialisation leave a record (a thread handle, an event,
// a TLS slot) of each calling thread behind when this library is unloaded.
class RegistryLock {
public:
    RegistryLock() { InitializeCriticalSection(&m_section); }
    ~RegistryLock() { DeleteCriticalSection(&m_section); }
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;
    void lock() { EnterCriticalSection(&m_section); }
    void unlock() { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

class Registry {
public:
    static Registry& Instance();

    RegistryLock& Mutex() { return m_mutex; }
    bool initialized = false;

    devicelib::UK_HANDLE Add(DeviceSession session);
    devicelib::UK_HANDLE Add(AsymOperation op);
    devicelib::UK_HANDLE Add(SymOperation op);
    devicelib::UK_HANDLE Add(HashOperation op);
    DeviceSession* Device(devicelib::UK_HANDLE h);
    AsymOperation* Asym(devicelib::UK_HANDLE h);
    SymOperation* Sym(devicelib::UK_HANDLE h);
    HashOperation* Hash(devicelib::UK_HANDLE h);
    void RemoveDevice(devicelib::UK_HANDLE h);
    void RemoveAsym(devicelib::UK_HANDLE h) { m_asym.erase(h); }
    void RemoveSym(devicelib::UK_HANDLE h) { m_sym.erase(h); }
    void RemoveHash(devicelib::UK_HANDLE h) { m_hash.erase(h); }
    void KeepMutex(const std::string& deviceName);
    void Clear();

private:
    RegistryLock m_mutex;
    devicelib::UK_HANDLE m_next = 0x5E10000;
    std::map<devicelib::UK_HANDLE, DeviceSession> m_devices;
    std::map<devicelib::UK_HANDLE, AsymOperation> m_asym;
    std::map<devicelib::UK_HANDLE, SymOperation> m_sym;
    std::map<devicelib::UK_HANDLE, HashOperation> m_hash;
    std::map<std::string, void*> m_mutexes;
};

std::uint32_t RunOnState(std::uint32_t slot, const std::function<std::uint32_t(State&, bool& dirty)>& body);
std::uint32_t RunOnToken(std::uint32_t slot, devicelib::UK_HANDLE device,
                         const std::function<std::uint32_t(Call&)>& body);

// A fault that makes the slot succeed with an answer of length bytes.
bool TakeShortAnswer(State& state, std::uint32_t slot, std::uint32_t& length);

// Output copy with the vendor's length rule: capacity in, length out.
std::uint32_t CopyOut(const Bytes& data, std::uint8_t* out, std::uint32_t* len);

} // namespace tokensim
