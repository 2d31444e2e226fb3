#include "Handles.h"

#include <map>
#include <mutex>

namespace {

std::mutex& TableLock()
{
    static std::mutex lock;
    return lock;
}

std::map<const void*, HandleKind>& Table()
{
    static std::map<const void*, HandleKind> table;
    return table;
}

} // namespace

void RegisterHandle(const void* handle, HandleKind kind)
{
    std::lock_guard<std::mutex> guard(TableLock());
    Table()[handle] = kind;
}

void ForgetHandle(const void* handle)
{
    std::lock_guard<std::mutex> guard(TableLock());
    Table().erase(handle);
}

bool IsLiveHandle(const void* handle, HandleKind kind)
{
    std::lock_guard<std::mutex> guard(TableLock());
    auto it = Table().find(handle);
    return it != Table().end() && it->second == kind;
}

bool TakeHandle(const void* handle, HandleKind kind)
{
    std::lock_guard<std::mutex> guard(TableLock());
    auto it = Table().find(handle);
    if (it == Table().end() || it->second != kind) return false;
    Table().erase(it);
    return true;
}
