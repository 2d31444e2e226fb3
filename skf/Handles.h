// The records behind the handles KeltoSKF hands out, and the table of live
// handles that every export consults before it touches one.
#pragma once

#include "VendorLibrary.h"
#include "KeptPins.h"

#include <cstddef>
#include <cstdint>

constexpr std::size_t kDevNameRoom = 304;

// The device context; also the application handle.
struct DevCtx {
    char szDevName[kDevNameRoom];
    vendor::UK_HANDLE pCtx;
    KeptPins pins;
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
    vendor::UK_KEY_REF ExchPubKey;
    vendor::UK_KEY_REF ExchPriKey;
    vendor::UK_KEY_REF ExchCert;
    vendor::UK_KEY_REF SignPubKey;
    vendor::UK_KEY_REF SignPriKey;
    vendor::UK_KEY_REF SignCert;
    char conName[vendor::UK_CONTAINER_RECORD_LEN - vendor::container::kName];
};
#pragma pack(pop)

static_assert(sizeof(ContCtx) == vendor::UK_CONTAINER_RECORD_LEN, "container record size");
static_assert(offsetof(ContCtx, AlgType) == vendor::container::kAlgorithm, "container record layout");
static_assert(offsetof(ContCtx, ExchKeyLen) == vendor::container::kExchangeSize, "container record layout");
static_assert(offsetof(ContCtx, SignKeyLen) == vendor::container::kSignatureSize, "container record layout");
static_assert(offsetof(ContCtx, ExchCert) == vendor::container::kExchangeCert, "container record layout");
static_assert(offsetof(ContCtx, SignCert) == vendor::container::kSignatureCert, "container record layout");
static_assert(offsetof(ContCtx, conName) == vendor::container::kName, "container record layout");

// The container handle; it owns its copy of the record.
struct ConCtx {
    DevCtx* pDevCtx;
    ContCtx* pContCtx;
};

enum class HandleKind { Device, Container, SessionKey, Hash };

// Every handle of the library, of whatever kind, is in one table: it is
// live from its registration until it is forgotten. Looking up
// a pointer never dereferences it, so closed handles and handles of another
// kind are refused safely.
void RegisterHandle(const void* handle, HandleKind kind);
void ForgetHandle(const void* handle);
bool IsLiveHandle(const void* handle, HandleKind kind);
// Forgets the handle when it is live and of this kind; false otherwise, so
// of two threads closing one handle only one frees it.
bool TakeHandle(const void* handle, HandleKind kind);
