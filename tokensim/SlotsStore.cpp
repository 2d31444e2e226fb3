// Containers, certificates and data objects: the card's file system.
#include "Session.h"
#include "Slots.h"

#include <algorithm>
#include <cstring>

namespace tokensim {
namespace slots {
namespace {

using namespace devicelib;
namespace ct = devicelib::container;

constexpr std::size_t kMaxObjects = 16;
constexpr std::size_t kMaxObjectSize = 0xFFFF; // the record's 16-bit size field
constexpr std::size_t kRecordNameRoom = 256;

std::string RecordName(const u8* record, std::size_t offset)
{
    const char* name = reinterpret_cast<const char*>(record + offset);
    return std::string(name, strnlen(name, kRecordNameRoom - 1));
}

void WriteContainerRecord(const Container& c, u8* record)
{
    std::memset(record, 0, UK_CONTAINER_RECORD_LEN);
    std::memcpy(record, c.header, ct::kHeaderLen);
    std::memcpy(record + ct::kName, c.name.c_str(), std::min(c.name.size(), kRecordNameRoom - 1));
}

bool OwnsCert(const Token& token, u8 number)
{
    return number && std::any_of(token.containers.begin(), token.containers.end(), [&](const Container& c) {
               return c.header[ct::kExchangeCert + 1] == number || c.header[ct::kSignatureCert + 1] == number;
           });
}

template <typename T, typename Pred>
void EraseIf(std::vector<T>& v, Pred pred)
{
    v.erase(std::remove_if(v.begin(), v.end(), pred), v.end());
}

} // namespace

// A caller with room for fewer records gets the first ones and the count
// of all.
u32 UKAPI EnumContainer(UK_HANDLE device, u8* records, u32* count)
{
    if (!records || !count) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(63, device, [&](Call& call) -> u32 {
        u32 n = std::min<u32>(*count, static_cast<u32>(call.token.containers.size()));
        for (u32 i = 0; i < n; ++i)
            WriteContainerRecord(call.token.containers[i], records + i * UK_CONTAINER_RECORD_LEN);
        *count = static_cast<u32>(call.token.containers.size());
        return UK_OK;
    });
}

// A name is unique on the card: a second container of the same name could
// never be found again.
u32 UKAPI CreateContainer(UK_HANDLE device, u8* record)
{
    if (!record) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(64, device, [&](Call& call) -> u32 {
        std::string name = RecordName(record, ct::kName);
        if (name.empty()) return UK_SW_WRONG_DATA;
        for (const Container& existing : call.token.containers)
            if (existing.name == name) return UK_SW_FILE_EXISTS;
        const Container* c = call.token.AddContainer(name);
        if (!c) return UK_SW_NOT_ENOUGH_MEMORY;
        std::memcpy(record, c->header, ct::kHeaderLen);
        call.dirty = true;
        return UK_OK;
    });
}

u32 UKAPI DeleteContainer(UK_HANDLE device, u8* record)
{
    if (!record) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(65, device, [&](Call& call) -> u32 {
        Container* c = call.token.FindContainer(record[ct::kNumber]);
        if (!c) return UK_SW_REF_NOT_FOUND;
        u8 pairs[] = {c->header[ct::kExchangePublic + 1], c->header[ct::kSignaturePublic + 1]};
        u8 certs[] = {c->header[ct::kExchangeCert + 1], c->header[ct::kSignatureCert + 1]};
        u8 number = c->Number();
        EraseIf(call.token.keys, [&](const KeyPair& k) { return k.number == pairs[0] || k.number == pairs[1]; });
        EraseIf(call.token.certs, [&](const Certificate& x) { return x.number == certs[0] || x.number == certs[1]; });
        EraseIf(call.token.containers, [&](const Container& x) { return x.Number() == number; });
        call.dirty = true;
        return UK_OK;
    });
}

u32 UKAPI ReadContainer(UK_HANDLE device, u8* record)
{
    if (!record) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(66, device, [&](Call& call) -> u32 {
        const Container* c = call.token.FindContainer(record[ct::kNumber]);
        if (!c) return UK_SW_REF_NOT_FOUND;
        WriteContainerRecord(*c, record);
        return UK_OK;
    });
}

// Only the algorithm and key-size bytes are the caller's to write; the
// references stay as the card assigned them.
u32 UKAPI WriteContainer(UK_HANDLE device, const u8* record, u32)
{
    if (!record) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(67, device, [&](Call& call) -> u32 {
        if (!call.session.userLoggedIn) return UK_SW_SECURITY_NOT_SATISFIED;
        Container* c = call.token.FindContainer(record[ct::kNumber]);
        if (!c) return UK_SW_REF_NOT_FOUND;
        for (std::size_t i : {ct::kAlgorithm, ct::kExchangeSize, ct::kSignatureSize}) c->header[i] = record[i];
        call.dirty = true;
        return UK_OK;
    });
}

u32 UKAPI WriteCert(UK_HANDLE device, const UK_KEY_REF* ref, const u8* cert, u32 len)
{
    if (!ref || !cert) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(68, device, [&](Call& call) -> u32 {
        if (!OwnsCert(call.token, ref->number)) return UK_SW_REF_NOT_FOUND;
        if (len == 0 || len > UK_MAX_CERT_LEN) return UK_SW_WRONG_LENGTH;
        EraseIf(call.token.certs, [&](const Certificate& x) { return x.number == ref->number; });
        call.token.certs.push_back({ref->number, Bytes(cert, cert + len)});
        call.dirty = true;
        return UK_OK;
    });
}

u32 UKAPI ReadCert(UK_HANDLE device, const UK_KEY_REF* ref, u8* cert, u32* len)
{
    if (!ref || !cert || !len) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(69, device, [&](Call& call) -> u32 {
        const Certificate* c = call.token.FindCert(ref->number);
        if (!c) return UK_SW_FILE_NOT_FOUND;
        return CopyOut(c->data, cert, len);
    });
}

u32 UKAPI EnumDataObj(UK_HANDLE device, u8* records, u32* count)
{
    if (!records || !count) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(76, device, [&](Call& call) -> u32 {
        u32 n = std::min<u32>(*count, static_cast<u32>(call.token.objects.size()));
        for (u32 i = 0; i < n; ++i) {
            const DataObject& d = call.token.objects[i];
            u8* r = records + i * UK_DATAOBJ_RECORD_LEN;
            std::memset(r, 0, UK_DATAOBJ_RECORD_LEN);
            r[dataobj::kSize] = static_cast<u8>(d.data.size() >> 8);
            r[dataobj::kSize + 1] = static_cast<u8>(d.data.size());
            std::memcpy(r + dataobj::kName, d.name.c_str(), std::min(d.name.size(), kRecordNameRoom - 1));
        }
        *count = n;
        return UK_OK;
    });
}

u32 UKAPI CreateDataObj(UK_HANDLE device, const u8* record)
{
    if (!record) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(77, device, [&](Call& call) -> u32 {
        if (!call.session.userLoggedIn) return UK_SW_SECURITY_NOT_SATISFIED;
        std::string name = RecordName(record, dataobj::kName);
        if (name.empty()) return UK_SW_WRONG_DATA;
        if (call.token.FindObject(name)) return UK_SW_FILE_EXISTS;
        if (call.token.objects.size() >= kMaxObjects) return UK_SW_NOT_ENOUGH_MEMORY;
        call.token.objects.push_back({name, {}});
        call.dirty = true;
        return UK_OK;
    });
}

u32 UKAPI DeleteDataObj(UK_HANDLE device, const u8* record)
{
    if (!record) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(78, device, [&](Call& call) -> u32 {
        if (!call.session.userLoggedIn) return UK_SW_SECURITY_NOT_SATISFIED;
        std::string name = RecordName(record, dataobj::kName);
        if (!call.token.FindObject(name)) return UK_SW_FILE_NOT_FOUND;
        EraseIf(call.token.objects, [&](const DataObject& d) { return d.name == name; });
        call.dirty = true;
        return UK_OK;
    });
}

u32 UKAPI ReadDataObj(UK_HANDLE device, const u8* record, u32, u8* data, u32* len)
{
    if (!record || !len) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(79, device, [&](Call& call) -> u32 {
        const DataObject* d = call.token.FindObject(RecordName(record, dataobj::kName));
        if (!d) return UK_SW_FILE_NOT_FOUND;
        return CopyOut(d->data, data, len);
    });
}

u32 UKAPI WriteDataObj(UK_HANDLE device, const u8* record, u32, const u8* data, u32 len)
{
    if (!record || (!data && len)) return UK_ERR_INVALID_PARAMETER;
    return RunOnToken(80, device, [&](Call& call) -> u32 {
        if (!call.session.userLoggedIn) return UK_SW_SECURITY_NOT_SATISFIED;
        DataObject* d = call.token.FindObject(RecordName(record, dataobj::kName));
        if (!d) return UK_SW_FILE_NOT_FOUND;
        if (len > kMaxObjectSize) return UK_SW_WRONG_LENGTH;
        d->data.assign(data, data + len);
        call.dirty = true;
        return UK_OK;
    });
}

} // namespace slots
} // namespace tokensim
