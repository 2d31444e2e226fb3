#include "DelayLoads.h"

#include <windows.h>

#include <delayimp.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// More than the libraries the provider loads this way.
constexpr LONG kRoom = 16;
PCImgDelayDescr g_loaded[kRoom];
volatile LONG g_loadedCount;

// The load helper's own record of the library's handle: the one reference
// the provider holds.
HMODULE* HandleSlot(PCImgDelayDescr library)
{
    ULONG_PTR at = library->rvaHmod;
    if (library->grAttrs & dlattrRva) at += reinterpret_cast<ULONG_PTR>(&__ImageBase);
    return reinterpret_cast<HMODULE*>(at);
}

FARPROC WINAPI NoteDelayLoad(unsigned notification, PDelayLoadInfo info)
{
    if (notification != dliNotePreLoadLibrary) return nullptr;
    // Two threads that load one library at once note it twice: its slot is
    // cleared when it is first given back.
    LONG index = InterlockedIncrement(&g_loadedCount) - 1;
    if (index < kRoom) g_loaded[index] = info->pidd;
    return nullptr;
}

} // namespace

void TrackDelayLoads()
{
    __pfnDliNotifyHook2 = NoteDelayLoad;
}

void ReleaseDelayLoads()
{
    LONG count = g_loadedCount < kRoom ? g_loadedCount : kRoom;
    for (LONG i = 0; i < count; ++i) {
        HMODULE* slot = HandleSlot(g_loaded[i]);
        if (HMODULE library = *slot) {
            *slot = nullptr;
            FreeLibrary(library);
        }
    }
}
