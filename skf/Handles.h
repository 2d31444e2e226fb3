// The records behind the handles KeltoSKF hands out, and the table of live
// handles that every export consults before it touches one.
#pragma once

#include "DeviceTable.h"
#include "KeptPins.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>

constexpr std::size_t kDevNameRoom = 304;

// The device locks each thread took through one connection and still
// holds, by thread id: the token's mutex belongs to the thread.
struct HeldLocks {
    std::mutex lock; // guards counts
    std::map<DWORD, ULONG> counts;
};

// The device context; also the application handle. hDev is the handle
// value it is known by, which its children keep to name it; closing is set
// once a disconnect begins, so that a lock wait on it ends.
struct DevCtx {
    char szDevName[kDevNameRoom];
    devicelib::UK_HANDLE pCtx;
    KeptPins pins;
    HeldLocks locks;
    HANDLE hDev;
    HANDLE closing;
};

// The vendor's container record, as EnumContainer, ReadContainer and
// WriteContainer pass it.
#pragma pack(push, 1)
struct ContCtx {
    std::uint8_t Reserved0;
    std::uint8_t ConNumber;
    std::uint8_t AlgType; // 0 none, 1 RSA, 14 SM2
    std::uint8_t ExchKeyLen;
    std::uint8_t SignKeyLen;
    devicelib::UK_KEY_REF ExchPubKey;
    devicelib::UK_KEY_REF ExchPriKey;
    devicelib::UK_KEY_REF ExchCert;
    devicelib::UK_KEY_REF SignPubKey;
    devicelib::UK_KEY_REF SignPriKey;
    devicelib::UK_KEY_REF SignCert;
    char conName[devicelib::UK_CONTAINER_RECORD_LEN - devicelib::container::kName];
};
#pragma pack(pop)

static_assert(sizeof(ContCtx) == devicelib::UK_CONTAINER_RECORD_LEN, "container record size");
static_assert(offsetof(ContCtx, AlgType) == devicelib::container::kAlgorithm, "container record layout");
static_assert(offsetof(ContCtx, ExchKeyLen) == devicelib::container::kExchangeSize, "container record layout");
static_assert(offsetof(ContCtx, SignKeyLen) == devicelib::container::kSignatureSize, "container record layout");
static_assert(offsetof(ContCtx, ExchCert) == devicelib::container::kExchangeCert, "container record layout");
static_assert(offsetof(ContCtx, SignCert) == devicelib::container::kSignatureCert, "container record layout");
static_assert(offsetof(ContCtx, conName) == devicelib::container::kName, "container record layout");

// The container handle; it owns its copy of the record. pDevCtx is read
// only while the device handle hDev is held.
struct ConCtx {
    DevCtx* pDevCtx;
    ContCtx* pContCtx;
    HANDLE hDev;
};

enum class HandleKind { Device, Container, SessionKey, Hash };

// Every handle of the library, of whatever kind, is a value that the one
// table maps to its record. Values are taken one after the other from
// address space the library reserves and never commits, and gives back
// only when it is unloaded: no value is handed out twice, and none, live
// or closed, is an address a caller could own. A call holds each handle it uses for its whole length; a hash
// or session key is held by one call at a time, as each call moves its
// state on. A handle taken is handed back once the last hold is released.

// A value never handed out before, for record; nullptr when no address
// space is left.
HANDLE RegisterHandle(void* record, HandleKind kind);
// True for any value this library handed out, live or closed.
bool IsHandleValue(const void* value);
// Holds a live handle of this kind and gives its record; nullptr when the
// handle is not one. A hash or session key that another call holds is
// waited for.
void* HoldHandle(const void* value, HandleKind kind);
void ReleaseHandle(const void* value);
// Retires a live handle of this kind, waits until no other call holds it
// and gives its record for the caller to free; nullptr when it is not
// live, so of two threads closing one handle only one frees it.
// heldByCaller: the caller's own hold goes with the handle.
void* TakeHandle(const void* value, HandleKind kind, bool heldByCaller = false);
// A taken handle live again under its value, for a close that failed.
void ReviveHandle(const void* value, HandleKind kind, void* record);
// At the detach of a FreeLibrary, when every handle dies with the library:
// gives back the address space and wipes the PINs of open connections.
void ReleaseHandleRanges();
