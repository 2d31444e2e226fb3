#include "TokenAccess.h"

#include "DebugLog.h"
#include "PinCache.h"
#include "DeviceBinding.h"
#include "TokenMutex.h"

#include <array>
#include <cstring>
#include <vector>

devicelib::UK_FUNCTION_LIST* g_FuncList;
HMODULE g_hVendorLibrary;

namespace {

using devicelib::UK_CONTAINER_RECORD_LEN;
using devicelib::UK_NAME_LEN;
namespace ct = devicelib::container;
using TokenNames = std::vector<std::array<char, UK_NAME_LEN>>;

constexpr DWORD kNoDevice = 55;
constexpr DWORD kEnumFailed = 648;
constexpr DWORD kInfoFailed = 1107;
constexpr DWORD kContainerEnumFailed = 1207;
constexpr DWORD kOpenFailed = 4319;
constexpr DWORD kDeleteFailed = 170;
// The room first offered for a token's containers, and the most ever
// offered: more tokens than a machine holds, every container number a
// token can give.
constexpr std::uint32_t kContainersPerToken = 16;
constexpr std::uint32_t kMostContainers = 255;
constexpr std::uint32_t kMostTokens = 128;

// Asks for a list with the room given and, while the library reports more
// entries than the room offered, again with room for all it reports. Past
// the most, the count is clamped to the entries delivered.
template <typename Ask>
std::uint32_t AskForAll(std::uint32_t room, std::uint32_t most, std::uint32_t& count, Ask ask)
{
    for (;;) {
        count = room;
        std::uint32_t status = ask(room, count);
        bool more = count > room && (status == devicelib::UK_OK || status == devicelib::UK_ERR_BUFFER_TOO_SMALL);
        if (more && room < most) {
            room = count < most ? count : most;
            continue;
        }
        if (count > room) count = room;
        return status;
    }
}

void SyncCache(const TokenNames& names)
{
    PinCache_SyncWithTokens(reinterpret_cast<const char(*)[UK_NAME_LEN]>(names.data()),
                            static_cast<std::uint32_t>(names.size()));
}

std::uint32_t DeviceKind(std::uint64_t device)
{
    std::uint32_t word = 0, len = sizeof word;
    std::uint32_t status =
        g_FuncList->GetDevInfo(device, devicelib::UK_INFO_FEATURES, reinterpret_cast<std::uint8_t*>(&word), &len);
    return status == devicelib::UK_OK && len == sizeof word && (word & devicelib::UK_FEATURE_KEEPS_DATA) ? 2 : 1;
}

void FillSession(TokenSession* session, const char* name, std::uint64_t device)
{
    std::memset(session, 0, sizeof *session);
    std::strncpy(session->deviceName, name, UK_NAME_LEN - 1);
    session->device = device;
    session->deviceKind = DeviceKind(device);
    session->funcs = g_FuncList;
    PinCache_Load(session);
}

bool NameTooLong(const char* name)
{
    return name && std::strlen(name) > kMaxContainerName;
}

bool RecordHasName(const std::uint8_t* record, const char* name)
{
    const char* recordName = reinterpret_cast<const char*>(record + ct::kName);
    return strnlen(recordName, UK_CONTAINER_RECORD_LEN - ct::kName) < UK_CONTAINER_RECORD_LEN - ct::kName &&
        std::strcmp(recordName, name) == 0;
}

// Lists all of a token's containers; count never exceeds the records
// delivered, so a misbehaving library cannot make the caller read past them.
std::uint32_t ListContainers(std::uint64_t device, std::vector<std::uint8_t>& records, std::uint32_t& count)
{
    return AskForAll(kContainersPerToken, kMostContainers, count, [&](std::uint32_t room, std::uint32_t& n) {
        records.assign(room * UK_CONTAINER_RECORD_LEN, 0);
        return g_FuncList->EnumContainer(device, records.data(), &n);
    });
}

// A token that will not open is logged and passed over by the caller.
bool OpenNamedToken(const char* name, std::uint64_t& device)
{
    std::uint32_t status = g_FuncList->OpenToken(name, &device);
    if (status == devicelib::UK_OK) return true;
    LogFailure("---->OpenToken. Error Code : ", status);
    return false;
}

bool IsQualified(const char* name)
{
    return name && std::strncmp(name, kQualifiedPrefix, sizeof kQualifiedPrefix - 1) == 0;
}

// The present token a qualified name carries, and where its container part
// starts. Token names hold backslashes themselves: the longest listed name
// followed by one is taken. Null when no present token fits.
const char* QualifiedToken(const char* qualified, const TokenNames& tokens, const char** container)
{
    const char* rest = qualified + sizeof kQualifiedPrefix - 1;
    const char* found = nullptr;
    std::size_t foundLength = 0;
    for (const auto& token : tokens) {
        std::size_t length = std::strlen(token.data());
        if (length > foundLength && _strnicmp(rest, token.data(), length) == 0 && rest[length] == '\\') {
            found = token.data();
            foundLength = length;
        }
    }
    if (found) *container = rest + foundLength + 1;
    return found;
}

// Opens the token and takes the named container on it, or with no name
// the token alone (an empty record); false, the token closed again, when
// it cannot.
bool OpenOnToken(const char* token, const char* containerName, TokenSession* session, std::uint8_t* record)
{
    std::uint64_t device = 0;
    if (!OpenNamedToken(token, device)) return false;
    std::vector<std::uint8_t> records;
    std::uint32_t count = 0;
    std::uint32_t status;
    if ((status = g_FuncList->SelectAppDF(device)) != devicelib::UK_OK) {
        LogFailure("---->SelectAppDF. Error Code : ", status);
    } else if ((status = ListContainers(device, records, count)) != devicelib::UK_OK) {
        LogFailure("---->EnumContainer. Error Code : ", status);
    } else {
        const std::uint8_t* found = nullptr;
        static const std::uint8_t kEmpty[UK_CONTAINER_RECORD_LEN] = {};
        if (!containerName) found = kEmpty;
        for (std::uint32_t i = 0; !found && i < count; ++i)
            if (RecordHasName(&records[i * UK_CONTAINER_RECORD_LEN], containerName))
                found = &records[i * UK_CONTAINER_RECORD_LEN];
        if (found) {
            FillSession(session, token, device);
            std::memcpy(record, found, UK_CONTAINER_RECORD_LEN);
            return true;
        }
    }
    g_FuncList->CloseToken(device);
    return false;
}

// A second container of a name could never be opened: an open takes the
// first record of the name.
bool HoldsContainer(std::uint64_t device, const char* name)
{
    std::vector<std::uint8_t> records;
    std::uint32_t count = 0;
    if (ListContainers(device, records, count) != devicelib::UK_OK) return false;
    for (std::uint32_t i = 0; i < count; ++i)
        if (RecordHasName(&records[i * UK_CONTAINER_RECORD_LEN], name)) return true;
    return false;
}

} // namespace

DWORD HoldToken(devicelib::TokenHold& hold, const char* deviceName)
{
    devicelib::TokenWait wait = hold.Take(deviceName, nullptr);
    if (wait == devicelib::TokenWait::Taken) return 0;
    LogFailure("---->HoldToken. Error Code : ", wait == devicelib::TokenWait::TimedOut ? WAIT_TIMEOUT : GetLastError());
    return static_cast<DWORD>(NTE_FAIL);
}

bool Token_EnumTokens(std::uint32_t room, TokenNames& names)
{
    std::uint32_t count = 0;
    std::uint32_t status = g_FuncList ? AskForAll(room, kMostTokens, count,
                                                  [&](std::uint32_t offered, std::uint32_t& n) {
                                                      names.assign(offered, {});
                                                      return g_FuncList->EnumToken(names[0].data(), &n);
                                                  })
                                      : devicelib::UK_ERR_NOT_INITIALIZED;
    if (status != devicelib::UK_OK) {
        LogFailure("---->EnumToken. Error Code : ", status);
        return false;
    }
    names.resize(count);
    for (auto& n : names) n[UK_NAME_LEN - 1] = '\0';
    return true;
}

void LoadDeviceLibrary()
{
    if (!g_FuncList) devicelib::BindLibrary(&g_hVendorLibrary, &g_FuncList);
}

void FreeDeviceLibrary()
{
    devicelib::UnbindLibrary(&g_hVendorLibrary, &g_FuncList);
}

DWORD Token_GenRandom(TokenSession* session, std::uint32_t length, std::uint8_t* buffer)
{
    if (length > devicelib::UK_MAX_RANDOM_LEN) return static_cast<DWORD>(NTE_BAD_LEN);
    std::uint32_t status =
        session->funcs ? session->funcs->GenRandom(session->device, buffer, length) : devicelib::UK_ERR_NOT_INITIALIZED;
    if (status == devicelib::UK_OK) return 0;
    LogFailure("---->GenRandom. Error Code : ", status);
    return static_cast<DWORD>(NTE_FAIL);
}

DWORD Token_GetLabelAndSerial(const char* deviceName, char* label, char* serial)
{
    std::uint64_t device = 0;
    std::uint32_t status = g_FuncList ? g_FuncList->OpenToken(deviceName, &device) : devicelib::UK_ERR_NOT_INITIALIZED;
    if (status != devicelib::UK_OK) {
        LogFailure("---->OpenToken. Error Code : ", status);
        return kOpenFailed;
    }
    char labelBuffer[kLabelRoom + 1] = {};
    std::uint8_t info[kLabelRoom + 1] = {};
    std::uint32_t labelLen = kLabelRoom, infoLen = kLabelRoom;
    DWORD result = 0;
    status = g_FuncList->GetDevLabel(device, labelBuffer, &labelLen);
    if (status != devicelib::UK_OK || labelLen > kLabelRoom) {
        LogFailure("---->GetDevLabel. Error Code : ", status);
        result = kInfoFailed;
    } else if ((status = g_FuncList->GetDevInfo(device, devicelib::UK_INFO_SERIAL, info, &infoLen)) !=
                   devicelib::UK_OK ||
               infoLen > kLabelRoom) {
        LogFailure("---->GetDevInfo. Error Code : ", status);
        result = kInfoFailed;
    } else {
        std::memcpy(label, labelBuffer, strnlen(labelBuffer, kLabelRoom - 1) + 1);
        label[kLabelRoom - 1] = '\0';
        std::size_t serialLen = strnlen(reinterpret_cast<char*>(info), infoLen < kLabelRoom ? infoLen : kLabelRoom - 1);
        std::memcpy(serial, info, serialLen);
        serial[serialLen] = '\0';
    }
    g_FuncList->CloseToken(device);
    return result;
}

DWORD Token_OpenContainer(const char* containerName, DWORD flags, TokenSession* session, std::uint8_t* record)
{
    const char* name = containerName ? containerName : kDefaultContainerName;
    bool qualified = IsQualified(name);
    if (!qualified && NameTooLong(name)) {
        LogLine("cont len err");
        return static_cast<DWORD>(NTE_BAD_DATA);
    }
    TokenNames tokens;
    if (!Token_EnumTokens(32, tokens)) return kEnumFailed;
    SyncCache(tokens);
    if (tokens.empty()) {
        if (flags >= kCryptVerifyContext) {
            LogLine("CRYPT_VERIFYCONTEXT");
            std::memset(session, 0, sizeof *session);
            return 0;
        }
        if (!(flags & kCryptSilent)) LogLine("---->ERROR_NO_DEVICE......\n");
        LogLine("---->ERROR_DEV_NOT_EXIST......\n");
        return kNoDevice;
    }
    if (qualified) {
        // Only the token named: never another that holds a container of
        // the same name.
        const char* container = nullptr;
        const char* token = QualifiedToken(name, tokens, &container);
        if (token && NameTooLong(container)) {
            LogLine("cont len err");
            return static_cast<DWORD>(NTE_BAD_DATA);
        }
        if (token && OpenOnToken(token, container[0] ? container : nullptr, session, record)) return 0;
    } else {
        for (const auto& token : tokens)
            if (OpenOnToken(token.data(), containerName, session, record)) return 0;
    }
    LogLine("---->NTE_BAD_KEYSET......\n");
    LogLine(name);
    return static_cast<DWORD>(NTE_BAD_KEYSET);
}

DWORD Token_CreateContainer(const char* containerName, DWORD flags, TokenSession* session, std::uint8_t* record)
{
    TokenNames tokens;
    if (!Token_EnumTokens(8, tokens)) return kEnumFailed;
    SyncCache(tokens);
    if (tokens.empty()) {
        if (!(flags & kCryptSilent)) LogLine("---->ERROR_NO_DEVICE......\n");
        return kNoDevice;
    }
    const char* name = containerName && containerName[0] ? containerName : kDefaultContainerName;
    // A qualified name creates on the token it names, without asking.
    const char* named = nullptr;
    if (IsQualified(name)) {
        named = QualifiedToken(name, tokens, &name);
        if (!named) {
            LogLine("---->NTE_BAD_KEYSET......\n");
            return static_cast<DWORD>(NTE_BAD_KEYSET);
        }
        if (!name[0]) name = kDefaultContainerName;
    }
    if (NameTooLong(name)) return static_cast<DWORD>(NTE_BAD_DATA);
    char chosen[UK_NAME_LEN] = {};
    std::memcpy(chosen, named ? named : tokens[0].data(), UK_NAME_LEN);
    if (!named && tokens.size() > 1) {
        // A caller that asked for no user interface gets no chooser.
        if (flags & kCryptSilent) return static_cast<DWORD>(NTE_SILENT_CONTEXT);
        DWORD error = ChooseTokenDevice(chosen);
        if (error) return error;
        chosen[UK_NAME_LEN - 1] = '\0';
    }
    std::uint64_t device = 0;
    if (!OpenNamedToken(chosen, device)) return kOpenFailed;
    // From the name check to the creation: another connection could make
    // a container of the same name in between.
    devicelib::TokenHold hold;
    if (DWORD error = HoldToken(hold, chosen)) {
        g_FuncList->CloseToken(device);
        return error;
    }
    std::uint32_t status;
    if ((status = g_FuncList->SelectAppDF(device)) != devicelib::UK_OK) {
        LogFailure("---->SelectAppDF. Error Code : ", status);
        g_FuncList->CloseToken(device);
        return kInfoFailed;
    }
    if (HoldsContainer(device, name)) {
        LogLine("---->NTE_EXISTS......\n");
        g_FuncList->CloseToken(device);
        return static_cast<DWORD>(NTE_EXISTS);
    }
    std::uint8_t fresh[UK_CONTAINER_RECORD_LEN] = {};
    std::memcpy(fresh + ct::kName, name, std::strlen(name));
    if ((status = g_FuncList->CreateContainer(device, fresh)) != devicelib::UK_OK) {
        LogFailure("---->CreateContainer. Error Code : ", status);
        g_FuncList->CloseToken(device);
        return static_cast<DWORD>(NTE_TOKEN_KEYSET_STORAGE_FULL);
    }
    FillSession(session, chosen, device);
    std::memcpy(record, fresh, UK_CONTAINER_RECORD_LEN);
    return 0;
}

DWORD Token_ListContainers(std::vector<ListedContainer>& list)
{
    list.clear();
    TokenNames tokens;
    if (!Token_EnumTokens(8, tokens)) return kEnumFailed;
    for (const auto& token : tokens) {
        std::uint64_t device = 0;
        if (!OpenNamedToken(token.data(), device)) continue;
        std::vector<std::uint8_t> records;
        std::uint32_t count = 0;
        std::uint32_t status = ListContainers(device, records, count);
        g_FuncList->CloseToken(device);
        if (status != devicelib::UK_OK) {
            LogFailure("---->EnumContainer. Error Code : ", status);
            return kContainerEnumFailed;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            ListedContainer listed;
            listed.token = token;
            std::memcpy(listed.record.data(), &records[i * UK_CONTAINER_RECORD_LEN], UK_CONTAINER_RECORD_LEN);
            list.push_back(listed);
        }
    }
    return 0;
}

DWORD Token_Login(TokenSession* session, const std::uint8_t* pin, std::uint32_t length)
{
    std::uint32_t status = session->funcs
        ? session->funcs->Login(session->device, devicelib::UK_PIN_USER, devicelib::UK_PIN_USER, pin, length)
        : devicelib::UK_ERR_NOT_INITIALIZED;
    if (status == devicelib::UK_OK) return 0;
    LogFailure("---->Login Error. Code : ", status);
    return status;
}

DWORD Token_DeleteContainer(TokenSession* session, const std::uint8_t* record)
{
    devicelib::TokenHold hold;
    if (DWORD error = HoldToken(hold, session->deviceName)) return error;
    std::uint8_t current[UK_CONTAINER_RECORD_LEN] = {};
    current[ct::kNumber] = record[ct::kNumber];
    std::uint32_t status = session->funcs->ReadContainer(session->device, current);
    if (status != devicelib::UK_OK) LogFailure("---->ReadContainer Error . Code is : ", status);
    if (status != devicelib::UK_OK || !RecordHasName(current, reinterpret_cast<const char*>(record + ct::kName))) {
        LogLine("---->NTE_BAD_KEYSET......\n");
        return static_cast<DWORD>(NTE_BAD_KEYSET);
    }
    status = session->funcs->DeleteContainer(session->device, current);
    if (status == devicelib::UK_OK) return 0;
    LogFailure("---->DeleteContainer. Error Code : ", status, "---->uk_DeleteContainer......\n");
    return kDeleteFailed;
}

DWORD Token_DeleteOtherContainers(TokenSession* session, const char* keptName, std::uint8_t algorithm)
{
    if (!session->funcs) return static_cast<DWORD>(NTE_FAIL);
    // Each record listed is deleted by its number: a number freed and
    // given to a new container in between would take that one.
    devicelib::TokenHold hold;
    if (DWORD error = HoldToken(hold, session->deviceName)) return error;
    std::vector<std::uint8_t> records;
    std::uint32_t count = 0;
    std::uint32_t status = ListContainers(session->device, records, count);
    if (status != devicelib::UK_OK) {
        LogFailure("---->EnumContainer. Error Code : ", status);
        return static_cast<DWORD>(NTE_FAIL);
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t* r = &records[i * UK_CONTAINER_RECORD_LEN];
        if (RecordHasName(r, keptName) || r[ct::kAlgorithm] != algorithm) continue;
        if ((status = session->funcs->DeleteContainer(session->device, r)) != devicelib::UK_OK) {
            LogFailure("---->DeleteContainer. Error Code : ", status);
            return static_cast<DWORD>(NTE_FAIL);
        }
    }
    return 0;
}
