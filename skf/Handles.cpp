#include "Handles.h"

#include <condition_variable>
#include <map>
#include <mutex>

namespace {

struct Entry {
    HandleKind kind;
    std::uint64_t generation;
    unsigned holds;
    bool live;
};

// The table, its lock, and the signal that a retired handle's last hold
// was released.
struct HandleTable {
    std::mutex lock;
    std::condition_variable released;
    std::map<const void*, Entry> entries;
    std::uint64_t lastGeneration = 0;
};

HandleTable& Table()
{
    static HandleTable table;
    return table;
}

Entry* FindLive(HandleTable& table, const void* handle, HandleKind kind)
{
    auto it = table.entries.find(handle);
    if (it == table.entries.end() || !it->second.live || it->second.kind != kind) return nullptr;
    return &it->second;
}

} // namespace

std::uint64_t NextGeneration()
{
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    return ++table.lastGeneration;
}

void RegisterHandle(const void* handle, HandleKind kind, std::uint64_t generation)
{
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    table.entries[handle] = Entry {kind, generation, 0, true};
}

bool IsLiveHandle(const void* handle, HandleKind kind)
{
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    return FindLive(table, handle, kind) != nullptr;
}

bool HoldHandle(const void* handle, HandleKind kind, std::uint64_t generation)
{
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    Entry* entry = FindLive(table, handle, kind);
    if (!entry || (generation && entry->generation != generation)) return false;
    ++entry->holds;
    return true;
}

void ReleaseHandle(const void* handle)
{
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.entries.find(handle);
    if (it == table.entries.end() || it->second.holds == 0) return;
    if (--it->second.holds == 0 && !it->second.live) table.released.notify_all();
}

bool TakeHandle(const void* handle, HandleKind kind, bool heldByCaller)
{
    HandleTable& table = Table();
    std::unique_lock<std::mutex> guard(table.lock);
    Entry* entry = FindLive(table, handle, kind);
    if (!entry) return false;
    entry->live = false;
    if (heldByCaller && entry->holds) --entry->holds;
    // The entry stays until then, so its address cannot be registered anew.
    table.released.wait(guard, [&] { return table.entries.at(handle).holds == 0; });
    table.entries.erase(handle);
    return true;
}
