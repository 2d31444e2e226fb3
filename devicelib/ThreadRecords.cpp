#include "ThreadRecords.h"

#include <pthread.h>

// The thread library's own: its TLS callback, which frees the record of a
// thread that is ending, and the record behind a thread id.
extern "C" PIMAGE_TLS_CALLBACK __xl_f;
extern "C" void* __pth_gpointer_locked(pthread_t thread);

namespace __gnu_cxx {
void __freeres() noexcept;
}

namespace devicelib {

namespace {

// Windows has 64 slots and 1024 more.
constexpr DWORD kTlsSlots = 1088;
DWORD g_recordSlot = TLS_OUT_OF_INDEXES;

} // namespace

void DropLoaderThreadRecord(HINSTANCE instance)
{
#if defined(__i386__)
    // The slot is the one whose value for this thread is its record.
    void* record = __pth_gpointer_locked(pthread_self());
    for (DWORD slot = 0; slot < kTlsSlots && g_recordSlot == TLS_OUT_OF_INDEXES; ++slot)
        if (record && TlsGetValue(slot) == record) g_recordSlot = slot;
    __xl_f(instance, DLL_THREAD_DETACH, nullptr);
#else
    // 64-bit loads make no record, and asking for one would make it.
    (void)instance;
#endif
}

void ReleaseRuntimeRecords()
{
    __gnu_cxx::__freeres();
    if (g_recordSlot != TLS_OUT_OF_INDEXES) TlsFree(g_recordSlot);
    g_recordSlot = TLS_OUT_OF_INDEXES;
}

} // namespace devicelib
