// The process-wide lists of live provider contexts, key objects and hash
// objects. A handle from a caller is used only when it is in its list and
// carries its magic word, so a stale or foreign handle is refused rather
// than followed.
#pragma once

#include <windows.h>

#include "DebugLog.h"

#include <cstdint>
#include <mutex>
#include <vector>

class ObjectList {
public:
    void Add(void* object);
    bool Remove(void* object);
    bool Contains(const void* object) const;
    std::vector<void*> TakeAll();

private:
    mutable std::mutex m_lock;
    std::vector<void*> m_objects;
};

extern ObjectList g_ProviderContexts;
extern ObjectList g_KeyObjects;
extern ObjectList g_HashObjects;

// The live object a caller's handle names, or null, with refusal logged.
template <typename Object>
Object* LookupLive(ULONG_PTR handle, const ObjectList& list, std::uint32_t magic, const char* refusal)
{
    auto* object = reinterpret_cast<Object*>(handle);
    if (!object || !list.Contains(object) || object->magic != magic) {
        LogLine(refusal);
        return nullptr;
    }
    return object;
}

// Zeroed blocks of the process heap, as the handles are their addresses.
void* AllocObject(SIZE_T size);
void FreeObject(void* object);

// At process detach: every key and hash object, then every context.
void FreeAllObjects();
