#include "ObjectLists.h"

#include "HashObject.h"

#include <algorithm>

ObjectList g_ProviderContexts;
ObjectList g_KeyObjects;
ObjectList g_HashObjects;

// The key and hash lists are changed by exports that take no provider
// lock, so each list guards itself.
void ObjectList::Add(void* object)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_objects.push_back(object);
}

bool ObjectList::Remove(void* object)
{
    std::lock_guard<std::mutex> hold(m_lock);
    auto it = std::find(m_objects.begin(), m_objects.end(), object);
    if (it == m_objects.end()) return false;
    m_objects.erase(it);
    return true;
}

bool ObjectList::Contains(const void* object) const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return std::find(m_objects.begin(), m_objects.end(), object) != m_objects.end();
}

std::vector<void*> ObjectList::TakeAll()
{
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<void*> all;
    all.swap(m_objects);
    return all;
}

void* AllocObject(SIZE_T size)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

void FreeObject(void* object)
{
    if (object) HeapFree(GetProcessHeap(), 0, object);
}

namespace {

// Keys and contexts hold key bytes and PINs.
void WipeAndFree(void* object)
{
    if (!object) return;
    SIZE_T size = HeapSize(GetProcessHeap(), 0, object);
    if (size != static_cast<SIZE_T>(-1)) SecureZeroMemory(object, size);
    FreeObject(object);
}

} // namespace

void FreeAllObjects()
{
    for (void* key : g_KeyObjects.TakeAll()) WipeAndFree(key);
    for (void* object : g_HashObjects.TakeAll()) {
        auto* hash = static_cast<HashObject*>(object);
        WipeAndFree(hash->keptData);
        WipeAndFree(hash);
    }
    for (void* context : g_ProviderContexts.TakeAll()) WipeAndFree(context);
}
