// The smart-token interface as KeltoSKF exports it: base types, handle
// types, status codes and the device-information record.
#pragma once

#include <windows.h>

#include <cstddef>

#define DEVAPI WINAPI

typedef HANDLE DEVHANDLE;
typedef HANDLE HAPPLICATION;
typedef HANDLE HCONTAINER;

constexpr ULONG SAR_OK = 0x00000000;
constexpr ULONG SAR_FAIL = 0x0A000001;
constexpr ULONG SAR_NOTSUPPORTYETERR = 0x0A000003;
constexpr ULONG SAR_INVALIDHANDLEERR = 0x0A000005;
constexpr ULONG SAR_INVALIDPARAMERR = 0x0A000006;
constexpr ULONG SAR_NAMELENERR = 0x0A000009;
constexpr ULONG SAR_MEMORYERR = 0x0A00000E;
constexpr ULONG SAR_INDATALENERR = 0x0A000010;
constexpr ULONG SAR_RSAMODULUSLENERR = 0x0A000016;
constexpr ULONG SAR_KEYNOTFOUNTERR = 0x0A00001B;
constexpr ULONG SAR_CERTNOTFOUNTERR = 0x0A00001C;
constexpr ULONG SAR_BUFFER_TOO_SMALL = 0x0A000020;
constexpr ULONG SAR_KEYINFOTYPEERR = 0x0A000021;
constexpr ULONG SAR_PIN_INCORRECT = 0x0A000024;
constexpr ULONG SAR_PIN_INVALID = 0x0A000026;
constexpr ULONG SAR_FILE_ALREADY_EXIST = 0x0A00002F;
constexpr ULONG SAR_NO_ROOM = 0x0A000030;
constexpr ULONG SAR_FILE_NOT_EXIST = 0x0A000031;

constexpr ULONG ADMIN_TYPE = 0;
constexpr ULONG USER_TYPE = 1;

constexpr ULONG DEV_ABSENT_STATE = 0;
constexpr ULONG DEV_PRESENT_STATE = 1;

constexpr ULONG CONTAINER_TYPE_NONE = 0;
constexpr ULONG CONTAINER_TYPE_RSA = 1;
constexpr ULONG CONTAINER_TYPE_SM2 = 2;

struct VERSION {
    BYTE major;
    BYTE minor;
};

// Natural alignment: two unused bytes after FirmwareVersion, 296 bytes in all.
struct DEVINFO {
    VERSION Version;
    CHAR Manufacturer[64];
    CHAR Issuer[64];
    CHAR Label[32];
    CHAR SerialNumber[32];
    VERSION HWVersion;
    VERSION FirmwareVersion;
    ULONG AlgSymCap;
    ULONG AlgAsymCap;
    ULONG AlgHashCap;
    ULONG DevAuthAlgId;
    ULONG TotalSpace;
    ULONG FreeSpace;
    ULONG MaxECCBufferSize;
    ULONG MaxBufferSize;
    BYTE Reserved[64];
};

static_assert(offsetof(DEVINFO, Label) == 130, "DEVINFO layout");
static_assert(offsetof(DEVINFO, HWVersion) == 194, "DEVINFO layout");
static_assert(offsetof(DEVINFO, AlgSymCap) == 200, "DEVINFO layout");
static_assert(offsetof(DEVINFO, MaxBufferSize) == 228, "DEVINFO layout");
static_assert(sizeof(DEVINFO) == 296, "DEVINFO size");
