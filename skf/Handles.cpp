#include "Handles.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <set>

namespace {

// One byte of address space a handle; a range is given back only with the
// library, so its values are never anything else.
constexpr SIZE_T kRangeSize = 1 << 20;

struct Entry {
    void* record;
    HandleKind kind;
    unsigned holds;
    bool live;
};

// The table, its lock, the signal that a hold was released, and the
// reserved ranges with the next value to hand out.
struct HandleTable {
    std::mutex lock;
    std::condition_variable released;
    std::map<const void*, Entry> entries;
    std::set<std::uintptr_t> ranges;
    std::uintptr_t next = 0;
    std::uintptr_t end = 0;
};

// Made when the image is loaded: the guard of a first-use static goes
// through the thread library, which would leave a record of the calling
// thread behind with every load.
HandleTable g_table;

HandleTable& Table()
{
    return g_table;
}

// Their state moves on with every call.
bool OneCallAtATime(HandleKind kind)
{
    return kind == HandleKind::SessionKey || kind == HandleKind::Hash;
}

Entry* FindLive(HandleTable& table, const void* value, HandleKind kind)
{
    auto it = table.entries.find(value);
    if (it == table.entries.end() || !it->second.live || it->second.kind != kind) return nullptr;
    return &it->second;
}

void Unhold(HandleTable& table, Entry& entry)
{
    if (--entry.holds == 0) table.released.notify_all();
}

// A range is known as ours before any of its values goes out, so that a
// value is never read as something else.
bool ReserveRange(HandleTable& table)
{
    void* range = VirtualAlloc(nullptr, kRangeSize, MEM_RESERVE, PAGE_NOACCESS);
    if (!range) return false;
    const auto start = reinterpret_cast<std::uintptr_t>(range);
    try {
        table.ranges.insert(start);
    } catch (const std::bad_alloc&) {
        VirtualFree(range, 0, MEM_RELEASE);
        return false;
    }
    table.next = start;
    table.end = start + kRangeSize;
    return true;
}

} // namespace

HANDLE RegisterHandle(void* record, HandleKind kind)
{
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    if (table.next == table.end && !ReserveRange(table)) return nullptr;
    auto* value = reinterpret_cast<HANDLE>(table.next++);
    try {
        table.entries.emplace(value, Entry {record, kind, 0, true});
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return value;
}

bool IsHandleValue(const void* value)
{
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    const auto at = reinterpret_cast<std::uintptr_t>(value);
    auto range = table.ranges.upper_bound(at);
    return range != table.ranges.begin() && at - *--range < kRangeSize;
}

void* HoldHandle(const void* value, HandleKind kind)
{
    HandleTable& table = Table();
    std::unique_lock<std::mutex> guard(table.lock);
    Entry* entry = FindLive(table, value, kind);
    // It may be closed while this call waits its turn.
    while (entry && entry->holds && OneCallAtATime(kind)) {
        table.released.wait(guard);
        entry = FindLive(table, value, kind);
    }
    if (!entry) return nullptr;
    ++entry->holds;
    return entry->record;
}

void ReleaseHandle(const void* value)
{
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.entries.find(value);
    if (it != table.entries.end() && it->second.holds) Unhold(table, it->second);
}

void* TakeHandle(const void* value, HandleKind kind, bool heldByCaller)
{
    HandleTable& table = Table();
    std::unique_lock<std::mutex> guard(table.lock);
    Entry* entry = FindLive(table, value, kind);
    if (!entry) return nullptr;
    entry->live = false;
    if (heldByCaller && entry->holds) Unhold(table, *entry);
    table.released.wait(guard, [&] { return table.entries.at(value).holds == 0; });
    void* record = entry->record;
    table.entries.erase(value);
    return record;
}

void ReviveHandle(const void* value, HandleKind kind, void* record)
{
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    table.entries[value] = Entry {record, kind, 0, true};
}

void ReleaseHandleRanges()
{
    std::lock_guard<std::mutex> guard(g_table.lock);
    // A connection the caller never closed keeps its record, but not the
    // user PIN in it.
    for (auto& [value, entry] : g_table.entries)
        if (entry.live && entry.kind == HandleKind::Device) ClearKeptPins(static_cast<DevCtx*>(entry.record)->pins);
    for (std::uintptr_t range : g_table.ranges) VirtualFree(reinterpret_cast<void*>(range), 0, MEM_RELEASE);
    g_table.ranges.clear();
    g_table.next = g_table.end = 0;
}
