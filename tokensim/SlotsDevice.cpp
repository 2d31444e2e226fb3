#include "Session.h"
#include "Slots.h"

#include <cstring>
#include <string>

namespace tokensim {
namespace slots {

using namespace devicelib;

u32 UKAPI Initialize(const char* applicationId)
{
    if (!applicationId) return UK_ERR_INVALID_PARAMETER;
    Registry& registry = Registry::Instance();
    std::lock_guard<RegistryLock> guard(registry.Mutex());
    registry.initialized = true;
    return RunOnState(1, [](State&, bool&) { return UK_OK; });
}

u32 UKAPI Finalize(void*)
{
    Registry& registry = Registry::Instance();
    std::lock_guard<RegistryLock> guard(registry.Mutex());
    u32 status = RunOnState(2, [](State&, bool&) { return UK_OK; });
    registry.Clear();
    registry.initialized = false;
    return status;
}

// Only tokens that are plugged in are listed; a caller with room for fewer
// names gets the first ones and the count of all.
u32 UKAPI EnumToken(char* names, u32* count)
{
    if (!count) return UK_ERR_INVALID_PARAMETER;
    return RunOnState(3, [&](State& state, bool&) -> u32 {
        u32 room = names ? *count : 0;
        u32 n = 0;
        for (const Token& t : state.tokens) {
            if (!t.present) continue;
            if (names && n < room) {
                std::memset(names + n * UK_NAME_LEN, 0, UK_NAME_LEN);
                std::strncpy(names + n * UK_NAME_LEN, t.name.c_str(), UK_NAME_LEN - 1);
            }
            ++n;
        }
        *count = n;
        return UK_OK;
    });
}

u32 UKAPI OpenToken(const char* name, UK_HANDLE* device)
{
    if (!name || !device) return UK_ERR_INVALID_PARAMETER;
    return RunOnState(4, [&](State& state, bool&) -> u32 {
        Token* token = state.FindToken(name);
        if (!token || !token->present) return UK_ERR_DEVICE_REMOVED;
        Registry& registry = Registry::Instance();
        registry.KeepMutex(token->name);
        DeviceSession session;
        session.tokenName = token->name;
        session.insertion = token->insertion;
        *device = registry.Add(std::move(session));
        return UK_OK;
    });
}

u32 UKAPI CloseToken(UK_HANDLE device)
{
    return RunOnState(5, [&](State&, bool&) -> u32 {
        Registry& registry = Registry::Instance();
        if (!registry.Device(device)) return UK_ERR_INVALID_HANDLE;
        registry.RemoveDevice(device);
        return UK_OK;
    });
}

u32 UKAPI GetDevLabel(UK_HANDLE device, char* label, u32* len)
{
    if (!label || !len) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(8, device, [&](Call& call) -> u32 {
        const std::string& text = call.token.label;
        if (*len < text.size() + 1) return UK_ERR_BUFFER_TOO_SMALL;
        std::memcpy(label, text.c_str(), text.size() + 1);
        *len = static_cast<u32>(text.size());
        return UK_OK;
    });
}

constexpr std::size_t kMaxLabel = 32;

u32 UKAPI SetDevLabel(UK_HANDLE device, const char* label, u32 len)
{
    if (!label) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(9, device, [&](Call& call) -> u32 {
        std::string text(label, strnlen(label, len));
        if (text.empty() || text.size() > kMaxLabel) return UK_SW_WRONG_LENGTH;
        call.token.label = text;
        call.dirty = true;
        return UK_OK;
    });
}

u32 UKAPI GetDevInfo(UK_HANDLE device, u32 infoClass, u8* info, u32* len)
{
    if (!info || !len) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(10, device, [&](Call& call) -> u32 {
        Bytes answer;
        if (infoClass == UK_INFO_SERIAL) {
            answer.assign(call.token.serial.begin(), call.token.serial.end());
            answer.push_back(0);
        } else if (infoClass == UK_INFO_FEATURES) {
            u32 word = call.token.kind == 2 ? UK_FEATURE_KEEPS_DATA : 0;
            answer.assign(reinterpret_cast<u8*>(&word), reinterpret_cast<u8*>(&word) + sizeof word);
        } else {
            return UK_SW_WRONG_P1P2;
        }
        return CopyOut(answer, info, len);
    });
}

u32 UKAPI GenRandom(UK_HANDLE device, u8* buffer, u32 len)
{
    if (!buffer) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(34, device, [&](Call&) -> u32 {
        if (len == 0 || len > UK_MAX_RANDOM_LEN) return UK_SW_WRONG_LENGTH;
        return RandomBytes(buffer, len) ? UK_OK : UK_SW_CONDITIONS_NOT_SATISFIED;
    });
}

// A device interface path of our kind, whether or not the store knows it:
// arrival notices come before any enumeration.
u32 UKAPI CheckDevName(const char* name, u32* kind, u32* reserved)
{
    if (!name) return UK_ERR_INVALID_PARAMETER;
    return RunOnState(59, [&](State& state, bool&) -> u32 {
        static const char prefix[] = "\\\\?\\usbstor#cdrom&ven_vesk&prod_ukey";
        if (_strnicmp(name, prefix, sizeof prefix - 1) != 0) return UK_SW_REF_NOT_FOUND;
        const Token* token = state.FindToken(name);
        if (kind) *kind = token ? token->kind : 1;
        if (reserved) *reserved = 0;
        return UK_OK;
    });
}

u32 UKAPI SelectAppDF(UK_HANDLE device)
{
    return RunOnToken(62, device, [](Call&) { return UK_OK; });
}

} // namespace slots
} // namespace tokensim
