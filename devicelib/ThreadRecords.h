// The thread library linked into each token DLL keeps a record (a thread
// handle and an event) of every thread that calls it, in a TLS slot of its
// own, and frees a record only when its thread ends and never the slot. A
// DLL loaded and unloaded over and over would leave a record and a slot
// behind each time (32-bit builds call it while loading, to register
// their unwind tables): the TLS slots of the process run out. The C++
// runtime, linked in as well, never frees its emergency exception buffer.
#pragma once

#include <windows.h>

namespace devicelib {

// At process attach: drops the record that loading made for the calling
// thread and notes the slot. A dropped record's memory stays with the
// thread library.
void DropLoaderThreadRecord(HINSTANCE instance);
// At the detach of a FreeLibrary: frees the slot and the exception buffer.
// Records of threads that called the library later and still run stay
// behind.
void ReleaseRuntimeRecords();

} // namespace devicelib
