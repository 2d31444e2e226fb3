// The records behind the handles KeltoSKF hands out, and the table of live
// handles that every export consults before it touches one.
#pragma once

#include "DeviceTable.h"
#include "KeptPins.h"

#include <cstddef>
#include <cstdint>

constexpr std::size_t kDevNameRoom = 304;

// The device context; also the application handle. The generation names
// this connection and is never given to another, so a handle made on it
// is refused once it is gone, even when a later context takes its address.
struct DevCtx {
    char szDevName[kDevNameRoom];
    devicelib::UK_HANDLE pCtx;
    KeptPins pins;
    std::uint64_t generation;
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

// The container handle; it owns its copy of the record.
struct ConCtx {
    DevCtx* pDevCtx;
    ContCtx* pContCtx;
    std::uint64_t devGeneration;
};

enum class HandleKind { Device, Container, SessionKey, Hash };

// Every handle of the library, of whatever kind, is in one table: it is
// live from its registration until it is taken. Looking up a pointer never
// dereferences it, so closed handles and handles of another kind are
// refused safely. A call holds each handle it uses for its whole length,
// and a handle taken is freed only once the last hold on it is released.

// A connection identity never handed out before.
std::uint64_t NextGeneration();
// generation: the device connection's own, for a device handle.
void RegisterHandle(const void* handle, HandleKind kind, std::uint64_t generation = 0);
bool IsLiveHandle(const void* handle, HandleKind kind);
// False when the handle is not live, not of this kind or, with a non-zero
// generation, of another connection.
bool HoldHandle(const void* handle, HandleKind kind, std::uint64_t generation = 0);
void ReleaseHandle(const void* handle);
// Retires a live handle of this kind and waits until no other call holds
// it; the caller then frees it. False when it is not live, so of two
// threads closing one handle only one frees it. heldByCaller: the caller's
// own hold goes with the handle.
bool TakeHandle(const void* handle, HandleKind kind, bool heldByCaller = false);
