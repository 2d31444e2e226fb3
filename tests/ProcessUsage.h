// What a process holds, for tests that load and unload a library round
// after round. Wine's GetProcessHandleCount and PrivateUsage are stubs that
// give 0: the handles are counted in the system's list, the private memory
// (address space reserved as well as committed) region by region.
#pragma once

#include <windows.h>

#include <vector>

namespace testusage {

struct Usage {
    DWORD handles;
    SIZE_T memory;
};

inline Usage Now()
{
    auto query = reinterpret_cast<LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<ULONG_PTR> list(1 << 16);
    ULONG length = 0;
    while (query(64, list.data(), static_cast<ULONG>(list.size() * sizeof list[0]), &length) ==
           static_cast<LONG>(0xC0000004)) // too short
        list.resize(list.size() * 2);
    // A count, a reserved word, then per handle its object, process id,
    // value and 16 bytes more.
    Usage usage {};
    for (ULONG_PTR i = 0; i < list[0]; ++i)
        usage.handles += list[2 + i * (3 + 16 / sizeof list[0]) + 1] == GetCurrentProcessId();
    MEMORY_BASIC_INFORMATION r;
    for (const char* at = nullptr; VirtualQuery(at, &r, sizeof r) && at + r.RegionSize > at; at += r.RegionSize)
        if (r.State != MEM_FREE && r.Type == MEM_PRIVATE) usage.memory += r.RegionSize;
    return usage;
}

// Within a twentieth of the handles and a twenty-fifth of the memory.
inline bool StayedFlat(const Usage& before, const Usage& after)
{
    return before.handles && after.handles <= before.handles + before.handles / 20 + 1 &&
        after.memory <= before.memory + before.memory / 25;
}

} // namespace testusage
