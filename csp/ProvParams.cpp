#include "ProviderContext.h"

#include "AlgorithmTable.h"
#include "DebugLog.h"
#include "ParamOutput.h"
#include "PinCache.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

namespace ct = devicelib::container;

constexpr DWORD kNoMoreItems = 259;
constexpr DWORD kEnumFailed = 648;
constexpr DWORD kInfoFailed = 1107;
constexpr DWORD kTokenIdentifiers = 80;
constexpr DWORD kImpType = 3; // hardware and software
constexpr DWORD kVersion = 0x200;
constexpr DWORD kKeyStorage = 1;
constexpr DWORD kKeySizeIncrement = 1024;
constexpr DWORD kKeySpecs = AT_KEYEXCHANGE | AT_SIGNATURE;
constexpr unsigned kMinPin = 6;
constexpr unsigned kMaxPin = 16;
constexpr DWORD kCryptFqcn = 0x10; // PP_ENUMCONTAINERS: token-qualified names

// Each context enumerates its own list, taken when its enumeration starts,
// so that two enumerations never move each other on. Guarded by the
// provider lock.
std::map<const ProviderContext*, std::vector<ListedContainer>> g_ContainerListings;

// One algorithm record a call; the cursor moves on only when the record
// was delivered.
template <typename Record>
DWORD EnumAlgRecords(bool (*fill)(std::uint32_t, Record*), std::uint32_t& index, BYTE* data, DWORD* dataLen)
{
    Record record;
    if (!fill(index, &record)) return kNoMoreItems;
    DWORD status = ReturnData(&record, sizeof record, data, dataLen);
    if (status == 0 && data) ++index;
    return status;
}

DWORD EnumAlgs(ProviderContext* context, BYTE* data, DWORD* dataLen)
{
    return EnumAlgRecords(FillEnumAlgs, context->algIndex, data, dataLen);
}

DWORD EnumAlgsEx(ProviderContext* context, BYTE* data, DWORD* dataLen)
{
    return EnumAlgRecords(FillEnumAlgsEx, context->algExIndex, data, dataLen);
}

std::string ListedName(const ListedContainer& listed, bool qualified)
{
    const char* name = reinterpret_cast<const char*>(listed.record.data() + ct::kName);
    std::string text(name, strnlen(name, kMaxContainerName));
    if (!qualified) return text;
    return kQualifiedPrefix + std::string(listed.token.data()) + "\\" + text;
}

// The reported length is that of the longest possible name, so a caller
// can size one buffer for the whole enumeration.
DWORD EnumContainers(ProviderContext* context, bool qualified, BYTE* data, DWORD* dataLen)
{
    std::vector<ListedContainer>& listing = g_ContainerListings[context];
    if (context->containerIndex == 0) {
        DWORD status = Token_ListContainers(listing);
        if (status != 0) return status;
    }
    if (context->containerIndex >= listing.size()) return kNoMoreItems;
    const DWORD room = qualified ? kMaxQualifiedName + 1 : kContainerNameRoom;
    if (!data) {
        *dataLen = room;
        return 0;
    }
    std::string name = ListedName(listing[context->containerIndex], qualified);
    // A short buffer is answered as CryptoAPI callers expect when they
    // grow it and ask again; the enumeration stays where it is.
    if (*dataLen < name.size() + 1) {
        *dataLen = room;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, name.c_str(), name.size() + 1);
    *dataLen = room;
    ++context->containerIndex;
    return 0;
}

DWORD ContainerName(const ProviderContext* context, BYTE* data, DWORD* dataLen)
{
    DWORD size = static_cast<DWORD>(strnlen(context->containerName, kMaxContainerName) + 1);
    return ReturnData(context->containerName, size, data, dataLen);
}

DWORD KeysetSecurityDescriptor(BYTE* data, DWORD* dataLen)
{
    // Everyone has full access: a present, null DACL.
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    return ReturnData(&descriptor, sizeof descriptor, data, dataLen);
}

// Each present token's identifier once, each with its zero, and a zero
// after the last. The size query reads them too: identifiers have no fixed
// length, and a guessed size would send the caller round again.
DWORD TokenIdentifiers(BYTE* data, DWORD* dataLen)
{
    std::vector<std::array<char, devicelib::UK_NAME_LEN>> names;
    if (!Token_EnumTokens(8, names)) return kEnumFailed;
    std::vector<std::string> identifiers;
    for (const auto& name : names) {
        char label[kLabelRoom] = {}, serial[kLabelRoom] = {};
        DWORD status = Token_GetLabelAndSerial(name.data(), label, serial);
        if (status != 0) {
            LogLine("---->dev_GetDevInfo. Error Code:");
            LogCode(status);
            return kInfoFailed;
        }
        std::size_t length = strnlen(serial, kLabelRoom - 1);
        if (LogFilePath[0]) {
            char work[kLogHexWorkSize] = {};
            LogHex(reinterpret_cast<const std::uint8_t*>(serial), static_cast<std::uint32_t>(length), work);
        }
        std::string identifier(serial, length);
        if (std::find(identifiers.begin(), identifiers.end(), identifier) == identifiers.end())
            identifiers.push_back(identifier);
    }
    std::string list;
    for (const std::string& identifier : identifiers) list.append(identifier).push_back('\0');
    list.push_back('\0');
    return ReturnData(list.data(), static_cast<DWORD>(list.size()), data, dataLen);
}

DWORD SetPin(ProviderContext* context, const BYTE* data)
{
    TokenSession& session = context->session;
    if (!data) {
        SecureZeroMemory(session.pin, sizeof session.pin);
        session.pinLength = 0;
        return 0;
    }
    std::size_t length = strnlen(reinterpret_cast<const char*>(data), kMaxPin + 1);
    if (length < kMinPin || length > kMaxPin) return static_cast<DWORD>(NTE_BAD_DATA);
    DWORD status = Token_Login(&session, data, static_cast<std::uint32_t>(length));
    if (status != 0) {
        LogLine("---->dev_Login....\n");
        return status;
    }
    std::memcpy(session.pin, data, length);
    session.pinLength = static_cast<std::uint8_t>(length);
    PinCache_Store(&session);
    return 0;
}

} // namespace

DWORD GetProvParamImpl(HCRYPTPROV hProv, DWORD param, BYTE* data, DWORD* dataLen, DWORD flags)
{
    ProviderContext* context = LookupProviderContext(hProv);
    if (!context) return static_cast<DWORD>(NTE_BAD_UID);
    if (!dataLen) return ERROR_INVALID_PARAMETER;
    bool first = (flags & CRYPT_FIRST) != 0;
    switch (param) {
    case PP_ENUMALGS:
        if (first) context->algIndex = 0;
        return EnumAlgs(context, data, dataLen);
    case PP_ENUMCONTAINERS:
        if (first) context->containerIndex = 0;
        return EnumContainers(context, (flags & kCryptFqcn) != 0, data, dataLen);
    case PP_IMPTYPE:
        return ReturnWord(kImpType, data, dataLen);
    case PP_NAME:
        return ReturnData(kProviderName, sizeof kProviderName, data, dataLen);
    case PP_VERSION:
        return ReturnWord(kVersion, data, dataLen);
    case PP_CONTAINER:
    case PP_UNIQUE_CONTAINER:
        return ContainerName(context, data, dataLen);
    case PP_KEYSET_SEC_DESCR:
        return KeysetSecurityDescriptor(data, dataLen);
    case PP_PROVTYPE:
        return ReturnWord(kProviderType, data, dataLen);
    case PP_KEYSTORAGE:
        return ReturnWord(kKeyStorage, data, dataLen);
    case PP_ENUMALGS_EX:
        if (first) context->algExIndex = 0;
        return EnumAlgsEx(context, data, dataLen);
    case PP_SIG_KEYSIZE_INC:
    case PP_KEYX_KEYSIZE_INC:
        return ReturnWord(kKeySizeIncrement, data, dataLen);
    case PP_USE_HARDWARE_RNG:
    case PP_ENUMEX_SIGNING_PROT:
        return 0;
    case PP_KEYSPEC:
        return ReturnWord(kKeySpecs, data, dataLen);
    case kTokenIdentifiers:
        return TokenIdentifiers(data, dataLen);
    default:
        return static_cast<DWORD>(NTE_BAD_TYPE);
    }
}

void ForgetContainerListing(const ProviderContext* context)
{
    g_ContainerListings.erase(context);
}

DWORD SetProvParamImpl(HCRYPTPROV hProv, DWORD param, const BYTE* data)
{
    ProviderContext* context = LookupProviderContext(hProv);
    if (!context) return static_cast<DWORD>(NTE_BAD_UID);
    switch (param) {
    case PP_CLIENT_HWND:
        context->clientWindow = data ? *reinterpret_cast<const HWND*>(data) : nullptr;
        return 0;
    case PP_KEYEXCHANGE_PIN:
    case PP_SIGNATURE_PIN:
        return SetPin(context, data);
    default:
        return static_cast<DWORD>(NTE_BAD_TYPE);
    }
}
