#include "Session.h"

#include <windows.h>

#include <openssl/crypto.h>

#include <cstdio>
#include <cstring>

namespace tokensim {
namespace {

using namespace devicelib;

// Built when the library is loaded, not on first use: the guard of a
// first-use static goes through the thread library (see RegistryLock).
const std::map<std::uint32_t, const char*> kSlotNames = {
    {1, "Initialize"},        {2, "Finalize"},         {3, "EnumToken"},
    {4, "OpenToken"},         {5, "CloseToken"},       {7, "SendAPDUCmd"},
    {8, "GetDevLabel"},       {9, "SetDevLabel"},      {10, "GetDevInfo"},
    {24, "ModifyPIN"},        {27, "Login"},           {29, "GetRetryTimes"},
    {34, "GenRandom"},        {35, "GenerateKeyPair"}, {37, "ImportPrivateKey"},
    {38, "ExportPrivateKey"}, {41, "ExportPublicKey"}, {42, "ImportPublicKey"},
    {43, "SymKeyEncInit"},    {44, "SymKeyEncUpdate"}, {45, "SymKeyEncFinal"},
    {46, "SymKeyDecInit"},    {47, "SymKeyDecUpdate"}, {48, "SymKeyDecFinal"},
    {49, "AsymKeyInit"},      {50, "AsymKeyFinal"},    {51, "PubkeyEnc"},
    {52, "PrikeyDec"},        {53, "PrikeySign"},      {54, "PubKeyVerify"},
    {55, "HashInit"},         {56, "HashUpdate"},      {57, "HashFinal"},
    {59, "CheckDevName"},     {62, "SelectAppDF"},     {63, "EnumContainer"},
    {64, "CreateContainer"},  {65, "DeleteContainer"}, {66, "ReadContainer"},
    {67, "WriteContainer"},   {68, "WriteCert"},       {69, "ReadCert"},
    {76, "EnumDataObj"},      {77, "CreateDataObj"},   {78, "DeleteDataObj"},
    {79, "ReadDataObj"},      {80, "WriteDataObj"}};

// Made when the library is loaded, for the same reason.
Registry g_registry;

const char* SlotName(std::uint32_t slot)
{
    auto it = kSlotNames.find(slot);
    return it == kSlotNames.end() ? "?" : it->second;
}

// One line per call to the file named by SIGWELL_TOKENSIM_JOURNAL, so a
// test sees which slots a component called and what they answered.
void Journal(std::uint32_t slot, std::uint32_t status)
{
    wchar_t path[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"SIGWELL_TOKENSIM_JOURNAL", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    char line[96];
    int len =
        std::snprintf(line, sizeof line, "%lu %u %s 0x%08X\n", GetCurrentProcessId(), slot, SlotName(slot), status);
    DWORD written;
    WriteFile(file, line, static_cast<DWORD>(len), &written, nullptr);
    CloseHandle(file);
}

// Faults that shape an answer are left to the slot (TakeShortAnswer).
bool TakeFault(State& state, std::uint32_t slot, std::uint32_t& code)
{
    for (auto it = state.faults.begin(); it != state.faults.end(); ++it) {
        if (it->slot != slot || it->answerLength >= 0) continue;
        code = it->code;
        if (it->count > 0 && --it->count == 0) state.faults.erase(it);
        return true;
    }
    return false;
}

std::uint32_t Finish(std::uint32_t slot, std::uint32_t status)
{
    // OpenSSL keeps random generators and an error queue per thread; the
    // library may be unloaded from another thread, whose cleanup cannot
    // reach them. Each call leaves none behind.
    OPENSSL_thread_stop();
    Journal(slot, status);
    return status;
}

} // namespace

Registry& Registry::Instance()
{
    return g_registry;
}

// Every kind of handle is drawn from the one counter.
template <typename Map, typename Entry>
static UK_HANDLE Insert(Map& map, UK_HANDLE& next, Entry entry)
{
    map.emplace(++next, std::move(entry));
    return next;
}

template <typename Map>
static auto* Lookup(Map& map, UK_HANDLE h)
{
    auto it = map.find(h);
    return it == map.end() ? nullptr : &it->second;
}

UK_HANDLE Registry::Add(DeviceSession session)
{
    return Insert(m_devices, m_next, std::move(session));
}
UK_HANDLE Registry::Add(AsymOperation op)
{
    return Insert(m_asym, m_next, std::move(op));
}
UK_HANDLE Registry::Add(SymOperation op)
{
    return Insert(m_sym, m_next, std::move(op));
}
UK_HANDLE Registry::Add(HashOperation op)
{
    return Insert(m_hash, m_next, std::move(op));
}

DeviceSession* Registry::Device(UK_HANDLE h)
{
    return Lookup(m_devices, h);
}
AsymOperation* Registry::Asym(UK_HANDLE h)
{
    return Lookup(m_asym, h);
}
SymOperation* Registry::Sym(UK_HANDLE h)
{
    return Lookup(m_sym, h);
}
HashOperation* Registry::Hash(UK_HANDLE h)
{
    return Lookup(m_hash, h);
}

void Registry::RemoveDevice(UK_HANDLE h)
{
    m_devices.erase(h);
    // Operations die with their device handle, as on a closed card channel.
    for (auto it = m_asym.begin(); it != m_asym.end();) it = it->second.device == h ? m_asym.erase(it) : std::next(it);
    for (auto it = m_sym.begin(); it != m_sym.end();) it = it->second.device == h ? m_sym.erase(it) : std::next(it);
    for (auto it = m_hash.begin(); it != m_hash.end();) it = it->second.device == h ? m_hash.erase(it) : std::next(it);
}

// The device lock of the SKF interface opens "Global\" + the device name
// from its sixth character; the library creates that mutex for it.
void Registry::KeepMutex(const std::string& deviceName)
{
    if (m_mutexes.count(deviceName) || deviceName.size() <= 5) return;
    std::string name = "Global\\" + deviceName.substr(5);
    m_mutexes[deviceName] = CreateMutexA(nullptr, FALSE, name.c_str());
}

void Registry::Clear()
{
    m_devices.clear();
    m_asym.clear();
    m_sym.clear();
    m_hash.clear();
    for (auto& m : m_mutexes)
        if (m.second) CloseHandle(m.second);
    m_mutexes.clear();
}

std::uint32_t RunOnState(std::uint32_t slot, const std::function<std::uint32_t(State&, bool&)>& body)
{
    Registry& registry = Registry::Instance();
    std::lock_guard<RegistryLock> guard(registry.Mutex());
    if (!registry.initialized) return Finish(slot, UK_ERR_NOT_INITIALIZED);
    StateLock lock;
    State state;
    if (!lock.Load(state)) return Finish(slot, UK_ERR_STATE);
    std::uint32_t status;
    bool dirty = false;
    if (TakeFault(state, slot, status))
        dirty = true;
    else
        status = body(state, dirty);
    if (dirty && !lock.Save(state)) status = UK_ERR_STATE;
    return Finish(slot, status);
}

std::uint32_t RunOnToken(std::uint32_t slot, UK_HANDLE device, const std::function<std::uint32_t(Call&)>& body)
{
    return RunOnState(slot, [&](State& state, bool& dirty) -> std::uint32_t {
        DeviceSession* session = Registry::Instance().Device(device);
        if (!session) return UK_ERR_INVALID_HANDLE;
        Token* token = state.FindToken(session->tokenName);
        if (!token || !token->present || token->insertion != session->insertion) return UK_ERR_DEVICE_REMOVED;
        Call call {state, *token, *session};
        std::uint32_t status = body(call);
        dirty = call.dirty;
        return status;
    });
}

bool TakeShortAnswer(State& state, std::uint32_t slot, std::uint32_t& length)
{
    for (auto it = state.faults.begin(); it != state.faults.end(); ++it) {
        if (it->slot != slot || it->answerLength < 0) continue;
        length = static_cast<std::uint32_t>(it->answerLength);
        if (it->count > 0 && --it->count == 0) state.faults.erase(it);
        return true;
    }
    return false;
}

std::uint32_t CopyOut(const Bytes& data, std::uint8_t* out, std::uint32_t* len)
{
    if (!len) return UK_ERR_INVALID_PARAMETER;
    if (!out) {
        *len = static_cast<std::uint32_t>(data.size());
        return UK_OK;
    }
    if (*len < data.size()) {
        *len = static_cast<std::uint32_t>(data.size());
        return UK_ERR_BUFFER_TOO_SMALL;
    }
    if (!data.empty()) std::memcpy(out, data.data(), data.size());
    *len = static_cast<std::uint32_t>(data.size());
    return UK_OK;
}

} // namespace tokensim
