// The token vendor's device library: its function table, status codes and
// records. Shared by KeltoCSP, KeltoSKF and the simulated token, so the
// three agree byte for byte.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define UKAPI __stdcall
#else
#define UKAPI
#endif

namespace devicelib {

constexpr char kLibraryName[] = "VESK_LORVIN_LIB.dll";
constexpr wchar_t kLibraryNameW[] = L"VESK_LORVIN_LIB.dll";
constexpr char kGetFunctionListName[] = "ukGetFunctionList";
constexpr char kApplicationId[] = "LORVIN_UKEY";

// Status words. Refusals of the card are 0x8000 followed by its ISO 7816
// status word; the 0xE0xxxxxx codes are the library's own, raised before
// a command reaches a card.
constexpr std::uint32_t UK_OK = 0;
constexpr std::uint32_t UK_SW_WRONG_PIN = 0x800063C0; // | tries left
constexpr std::uint32_t UK_SW_WRONG_LENGTH = 0x80006700;
constexpr std::uint32_t UK_SW_NO_SUCH_PIN = 0x80006981;
constexpr std::uint32_t UK_SW_SECURITY_NOT_SATISFIED = 0x80006982;
constexpr std::uint32_t UK_SW_PIN_BLOCKED = 0x80006983;
constexpr std::uint32_t UK_SW_CONDITIONS_NOT_SATISFIED = 0x80006985;
constexpr std::uint32_t UK_SW_VERIFY_FAILED = 0x80006988;
constexpr std::uint32_t UK_SW_WRONG_DATA = 0x80006A80;
constexpr std::uint32_t UK_SW_FILE_NOT_FOUND = 0x80006A82;
constexpr std::uint32_t UK_SW_NOT_ENOUGH_MEMORY = 0x80006A84;
constexpr std::uint32_t UK_SW_WRONG_P1P2 = 0x80006A86;
constexpr std::uint32_t UK_SW_REF_NOT_FOUND = 0x80006A88;
constexpr std::uint32_t UK_SW_FILE_EXISTS = 0x80006A89;
constexpr std::uint32_t UK_SW_INS_NOT_SUPPORTED = 0x80006D00;
constexpr std::uint32_t UK_SW_CLA_NOT_SUPPORTED = 0x80006E00;
constexpr std::uint32_t UK_ERR_DEVICE_REMOVED = 0xE0000001;
constexpr std::uint32_t UK_ERR_INVALID_HANDLE = 0xE0000002;
constexpr std::uint32_t UK_ERR_INVALID_PARAMETER = 0xE0000003;
constexpr std::uint32_t UK_ERR_BUFFER_TOO_SMALL = 0xE0000004;
constexpr std::uint32_t UK_ERR_NOT_INITIALIZED = 0xE0000005;
constexpr std::uint32_t UK_ERR_STATE = 0xE0000006; // the token's store is unreadable

constexpr bool IsWrongPin(std::uint32_t status)
{
    return (status & 0xFFFFFFF0u) == UK_SW_WRONG_PIN;
}
constexpr std::uint32_t TriesLeft(std::uint32_t status)
{
    return status & 0x0F;
}

constexpr std::uint32_t UK_PIN_USER = 1;
constexpr std::uint32_t UK_PIN_ADMIN = 2;

// GetRetryTimes information word.
constexpr std::uint32_t UK_RETRY_TRIES_MASK = 0xFF;
constexpr std::uint32_t UK_RETRY_FACTORY_DEFAULT = 1u << 24;

// GetDevInfo information classes; class 16 answers a u32 word.
constexpr std::uint32_t UK_INFO_SERIAL = 2;
constexpr std::uint32_t UK_INFO_FEATURES = 16;
constexpr std::uint32_t UK_FEATURE_KEEPS_DATA = 1u << 26; // device kind 2

constexpr std::uint32_t UK_ALG_RSA = 1;
constexpr std::uint32_t UK_ALG_SM2 = 14;

constexpr std::uint32_t UK_HASH_MD5 = 8;
constexpr std::uint32_t UK_HASH_SHA1 = 9;
constexpr std::uint32_t UK_HASH_SHA256 = 10;
constexpr std::uint32_t UK_HASH_SM3 = 15;

constexpr std::size_t UK_NAME_LEN = 260; // one EnumToken entry
constexpr std::size_t UK_CONTAINER_RECORD_LEN = 273;
constexpr std::size_t UK_DATAOBJ_RECORD_LEN = 264;
constexpr std::size_t UK_MAX_CERT_LEN = 2048;
constexpr std::size_t UK_MAX_RANDOM_LEN = 1024;

// Container record: the token assigns the header when the container is
// created; number 0 means "no container".
namespace container {
constexpr std::size_t kNumber = 1;
constexpr std::size_t kAlgorithm = 2;    // 0 none, 1 RSA, 14 SM2
constexpr std::size_t kExchangeSize = 3; // RSA: units of 1024 bits; SM2: 1
constexpr std::size_t kSignatureSize = 4;
constexpr std::size_t kExchangeId = 5; // public ref, private ref, cert ref
constexpr std::size_t kExchangePublic = 5;
constexpr std::size_t kExchangePrivate = 7;
constexpr std::size_t kExchangeCert = 9;
constexpr std::size_t kSignatureId = 11;
constexpr std::size_t kSignaturePublic = 11;
constexpr std::size_t kSignaturePrivate = 13;
constexpr std::size_t kSignatureCert = 15;
constexpr std::size_t kIdLen = 6;
constexpr std::size_t kName = 17;
constexpr std::size_t kHeaderLen = 17;
} // namespace container

// Data-object record: bytes 6-7 the size, big-endian; name from byte 8.
namespace dataobj {
constexpr std::size_t kSize = 6;
constexpr std::size_t kName = 8;
} // namespace dataobj

// Key and certificate references: {kind, number}. The halves of a key pair
// share one number; the slot called decides which half is meant.
constexpr std::uint8_t UK_REF_RSA_PUBLIC = 0x02;
constexpr std::uint8_t UK_REF_RSA_PRIVATE = 0x03;
constexpr std::uint8_t UK_REF_CERT = 0x04;
constexpr std::uint8_t UK_REF_SM2_PUBLIC = 0x11;
constexpr std::uint8_t UK_REF_SM2_PRIVATE = 0x12;

#pragma pack(push, 1)
struct UK_KEY_REF {
    std::uint8_t kind;
    std::uint8_t number;
};
#pragma pack(pop)

// Public key material. RSA: n = bits / 8 bytes of modulus and n bytes of
// public exponent; SM2: 32 bytes of x and 32 of y. Big-endian. Export
// writes through the two pointers and sets bits.
struct UK_PUBLIC_KEY {
    std::uint32_t bits;
    std::uint8_t* first;  // modulus or x
    std::uint8_t* second; // public exponent or y
};

// Private key handed to ImportPrivateKey. Each pointer addresses the value
// itself, big-endian: n bytes for modulus, public and private exponent,
// n / 2 for the CRT values. SM2 uses bits (256) and the scalar in modulus.
struct UK_PRIVATE_KEY {
    std::uint32_t bits;
    const std::uint8_t* modulus;
    const std::uint8_t* publicExponent;
    const std::uint8_t* exponent;
    const std::uint8_t* prime[2];
    const std::uint8_t* primeExponent[2];
    const std::uint8_t* coefficient;
};

// ExportPrivateKey fills eight areas with values at their start, big-endian
// (modulus, publicExponent, exponent, prime1, prime2, exponent1, exponent2,
// coefficient); an SM2 key gives its 32-byte scalar in the first area.
struct UK_PRIVATE_KEY_AREAS {
    std::uint32_t bits;
    std::uint8_t area[8][256];
};

// AsymKeyInit key kind.
constexpr std::uint8_t UK_USE_PUBLIC_ENCRYPT = 0x01;
constexpr std::uint8_t UK_USE_PRIVATE_DECRYPT = 0x02;
constexpr std::uint8_t UK_USE_PRIVATE_SIGN = 0x04;
constexpr std::uint8_t UK_USE_PUBLIC_VERIFY = 0x08;
constexpr std::uint8_t UK_USE_KEY_MATERIAL = 0x40; // key points to a UK_PUBLIC_KEY
constexpr std::uint8_t UK_PAD_NONE = 1;            // raw RSA
constexpr std::uint8_t UK_PAD_PKCS1 = 2;

struct UK_ASYM_KEY_SPEC {
    std::uint8_t algorithm;
    std::uint8_t usage;
    std::uint8_t padding;
    const void* key;      // the private or public UK_KEY_REF, or a UK_PUBLIC_KEY
    std::uint32_t keyLen; // RSA: n
};

// PrikeySign: mode word 0 signs the block as given (RSA: type-1 padded,
// SM2: a 32-byte digest); 1 and 2 hand over the data for the token to hash
// (mode byte 2 SHA-256, else SHA-1 for RSA; SM3 with Z for SM2).
constexpr std::uint32_t UK_SIGN_BLOCK = 0;

// Symmetric key kind (DES, 3DES and AES on the token).
constexpr std::uint8_t UK_SYM_DES = 2;
constexpr std::uint8_t UK_SYM_3DES = 4;
constexpr std::uint8_t UK_SYM_AES = 5;
constexpr std::uint8_t UK_SYM_ECB = 1;
constexpr std::uint8_t UK_SYM_CBC = 2;
constexpr std::uint8_t UK_SYM_MODE_FLAG = 0x40;
constexpr std::uint8_t UK_SYM_PAD_NONE = 1;
constexpr std::uint8_t UK_SYM_PAD_PKCS5 = 2;

struct UK_SYM_KEY_SPEC {
    std::uint8_t algorithm;
    std::uint8_t mode; // UK_SYM_ECB or UK_SYM_CBC, plus UK_SYM_MODE_FLAG
    std::uint8_t padding;
    const std::uint8_t* key;
    std::uint32_t keyLen;
    const std::uint8_t* iv;
};

// Responses of SendAPDUCmd: a 2-byte big-endian data length, the data and
// the status word SW1 SW2. A status word other than 90 00 is also returned
// as the call's status.
constexpr std::size_t UK_APDU_FRAME = 4;

typedef std::uint64_t UK_HANDLE;

typedef std::uint32_t(UKAPI* PFN_Initialize)(const char* applicationId);
typedef std::uint32_t(UKAPI* PFN_Finalize)(void* reserved);
typedef std::uint32_t(UKAPI* PFN_EnumToken)(char* names, std::uint32_t* count);
typedef std::uint32_t(UKAPI* PFN_OpenToken)(const char* name, UK_HANDLE* device);
typedef std::uint32_t(UKAPI* PFN_CloseToken)(UK_HANDLE device);
typedef std::uint32_t(UKAPI* PFN_SendAPDUCmd)(UK_HANDLE device, const std::uint8_t* command, std::uint32_t commandLen,
                                              std::uint8_t* response, std::uint32_t* responseLen);
typedef std::uint32_t(UKAPI* PFN_GetDevLabel)(UK_HANDLE device, char* label, std::uint32_t* len);
typedef std::uint32_t(UKAPI* PFN_SetDevLabel)(UK_HANDLE device, const char* label, std::uint32_t len);
typedef std::uint32_t(UKAPI* PFN_GetDevInfo)(UK_HANDLE device, std::uint32_t infoClass, std::uint8_t* info,
                                             std::uint32_t* len);
typedef std::uint32_t(UKAPI* PFN_ModifyPIN)(UK_HANDLE device, std::uint32_t type, std::uint32_t type2,
                                            const std::uint8_t* oldPin, std::uint32_t oldLen,
                                            const std::uint8_t* newPin, std::uint32_t newLen);
typedef std::uint32_t(UKAPI* PFN_Login)(UK_HANDLE device, std::uint32_t type, std::uint32_t type2,
                                        const std::uint8_t* pin, std::uint32_t len);
typedef std::uint32_t(UKAPI* PFN_GetRetryTimes)(UK_HANDLE device, std::uint32_t type, std::uint32_t type2,
                                                std::uint32_t* info);
typedef std::uint32_t(UKAPI* PFN_GenRandom)(UK_HANDLE device, std::uint8_t* buffer, std::uint32_t len);
typedef std::uint32_t(UKAPI* PFN_GenerateKeyPair)(UK_HANDLE device, std::uint32_t algorithm, std::uint32_t bits,
                                                  std::uint32_t reserved1, std::uint32_t reserved2,
                                                  const UK_KEY_REF* publicRef, const UK_KEY_REF* privateRef);
typedef std::uint32_t(UKAPI* PFN_ImportPrivateKey)(UK_HANDLE device, std::uint32_t algorithm, const UK_KEY_REF* ref,
                                                   const UK_PRIVATE_KEY* key);
typedef std::uint32_t(UKAPI* PFN_ExportPrivateKey)(UK_HANDLE device, std::uint32_t algorithm, const UK_KEY_REF* ref,
                                                   UK_PRIVATE_KEY_AREAS* key);
typedef std::uint32_t(UKAPI* PFN_ExportPublicKey)(UK_HANDLE device, std::uint32_t algorithm, const UK_KEY_REF* ref,
                                                  UK_PUBLIC_KEY* key);
typedef std::uint32_t(UKAPI* PFN_ImportPublicKey)(UK_HANDLE device, std::uint32_t algorithm, const UK_KEY_REF* ref,
                                                  const UK_PUBLIC_KEY* key);
typedef std::uint32_t(UKAPI* PFN_SymKeyInit)(UK_HANDLE device, const UK_SYM_KEY_SPEC* spec, UK_HANDLE* operation);
typedef std::uint32_t(UKAPI* PFN_SymKeyUpdate)(UK_HANDLE operation, const std::uint8_t* in, std::uint32_t inLen,
                                               std::uint8_t* out, std::uint32_t* outLen);
typedef std::uint32_t(UKAPI* PFN_SymKeyFinal)(UK_HANDLE operation, std::uint8_t* out, std::uint32_t* outLen);
typedef std::uint32_t(UKAPI* PFN_AsymKeyInit)(UK_HANDLE device, const UK_ASYM_KEY_SPEC* spec, UK_HANDLE* operation);
typedef std::uint32_t(UKAPI* PFN_AsymKeyFinal)(UK_HANDLE operation);
typedef std::uint32_t(UKAPI* PFN_AsymCrypt)(UK_HANDLE operation, const std::uint8_t* in, std::uint32_t inLen,
                                            std::uint8_t* out, std::uint32_t* outLen);
typedef std::uint32_t(UKAPI* PFN_PrikeySign)(UK_HANDLE operation, std::uint32_t modeWord, std::uint32_t modeByte,
                                             const std::uint8_t* data, std::uint32_t dataLen, std::uint8_t* out,
                                             std::uint32_t* outLen);
// RSA: in is the signature, out receives the recovered block. SM2: in is
// the 32-byte digest, out holds r || s and *outLen its length (64).
typedef std::uint32_t(UKAPI* PFN_PubKeyVerify)(UK_HANDLE operation, const std::uint8_t* in, std::uint32_t inLen,
                                               std::uint8_t* out, std::uint32_t* outLen);
typedef std::uint32_t(UKAPI* PFN_HashInit)(UK_HANDLE device, std::uint32_t algorithm, UK_HANDLE* hash);
typedef std::uint32_t(UKAPI* PFN_HashUpdate)(UK_HANDLE hash, const std::uint8_t* data, std::uint32_t len);
typedef std::uint32_t(UKAPI* PFN_HashFinal)(UK_HANDLE hash, std::uint8_t* digest, std::uint32_t* len);
typedef std::uint32_t(UKAPI* PFN_CheckDevName)(const char* name, std::uint32_t* kind, std::uint32_t* reserved);
typedef std::uint32_t(UKAPI* PFN_SelectAppDF)(UK_HANDLE device);
typedef std::uint32_t(UKAPI* PFN_EnumContainer)(UK_HANDLE device, std::uint8_t* records, std::uint32_t* count);
typedef std::uint32_t(UKAPI* PFN_ContainerOp)(UK_HANDLE device, std::uint8_t* record);
typedef std::uint32_t(UKAPI* PFN_WriteContainer)(UK_HANDLE device, const std::uint8_t* record, std::uint32_t flags);
typedef std::uint32_t(UKAPI* PFN_WriteCert)(UK_HANDLE device, const UK_KEY_REF* ref, const std::uint8_t* cert,
                                            std::uint32_t len);
typedef std::uint32_t(UKAPI* PFN_ReadCert)(UK_HANDLE device, const UK_KEY_REF* ref, std::uint8_t* cert,
                                           std::uint32_t* len);
typedef std::uint32_t(UKAPI* PFN_EnumDataObj)(UK_HANDLE device, std::uint8_t* records, std::uint32_t* count);
typedef std::uint32_t(UKAPI* PFN_DataObjOp)(UK_HANDLE device, const std::uint8_t* record);
typedef std::uint32_t(UKAPI* PFN_ReadDataObj)(UK_HANDLE device, const std::uint8_t* record, std::uint32_t flags,
                                              std::uint8_t* data, std::uint32_t* len);
typedef std::uint32_t(UKAPI* PFN_WriteDataObj)(UK_HANDLE device, const std::uint8_t* record, std::uint32_t flags,
                                               const std::uint8_t* data, std::uint32_t len);

typedef void* UK_RESERVED_SLOT;

// One pointer per slot; the member at index N is slot N.
struct UK_FUNCTION_LIST {
    UK_RESERVED_SLOT slot0;
    PFN_Initialize Initialize; // 1
    PFN_Finalize Finalize;     // 2
    PFN_EnumToken EnumToken;   // 3
    PFN_OpenToken OpenToken;   // 4
    PFN_CloseToken CloseToken; // 5
    UK_RESERVED_SLOT slot6;
    PFN_SendAPDUCmd SendAPDUCmd; // 7
    PFN_GetDevLabel GetDevLabel; // 8
    PFN_SetDevLabel SetDevLabel; // 9
    PFN_GetDevInfo GetDevInfo;   // 10
    UK_RESERVED_SLOT slot11to23[13];
    PFN_ModifyPIN ModifyPIN; // 24
    UK_RESERVED_SLOT slot25to26[2];
    PFN_Login Login; // 27
    UK_RESERVED_SLOT slot28;
    PFN_GetRetryTimes GetRetryTimes; // 29
    UK_RESERVED_SLOT slot30to33[4];
    PFN_GenRandom GenRandom;             // 34
    PFN_GenerateKeyPair GenerateKeyPair; // 35
    UK_RESERVED_SLOT slot36;
    PFN_ImportPrivateKey ImportPrivateKey; // 37
    PFN_ExportPrivateKey ExportPrivateKey; // 38
    UK_RESERVED_SLOT slot39to40[2];
    PFN_ExportPublicKey ExportPublicKey; // 41
    PFN_ImportPublicKey ImportPublicKey; // 42
    PFN_SymKeyInit SymKeyEncInit;        // 43
    PFN_SymKeyUpdate SymKeyEncUpdate;    // 44
    PFN_SymKeyFinal SymKeyEncFinal;      // 45
    PFN_SymKeyInit SymKeyDecInit;        // 46
    PFN_SymKeyUpdate SymKeyDecUpdate;    // 47
    PFN_SymKeyFinal SymKeyDecFinal;      // 48
    PFN_AsymKeyInit AsymKeyInit;         // 49
    PFN_AsymKeyFinal AsymKeyFinal;       // 50
    PFN_AsymCrypt PubkeyEnc;             // 51
    PFN_AsymCrypt PrikeyDec;             // 52
    PFN_PrikeySign PrikeySign;           // 53
    PFN_PubKeyVerify PubKeyVerify;       // 54
    PFN_HashInit HashInit;               // 55
    PFN_HashUpdate HashUpdate;           // 56
    PFN_HashFinal HashFinal;             // 57
    UK_RESERVED_SLOT slot58;
    PFN_CheckDevName CheckDevName; // 59
    UK_RESERVED_SLOT slot60to61[2];
    PFN_SelectAppDF SelectAppDF;       // 62
    PFN_EnumContainer EnumContainer;   // 63
    PFN_ContainerOp CreateContainer;   // 64
    PFN_ContainerOp DeleteContainer;   // 65
    PFN_ContainerOp ReadContainer;     // 66
    PFN_WriteContainer WriteContainer; // 67
    PFN_WriteCert WriteCert;           // 68
    PFN_ReadCert ReadCert;             // 69
    UK_RESERVED_SLOT slot70to75[6];
    PFN_EnumDataObj EnumDataObj;   // 76
    PFN_DataObjOp CreateDataObj;   // 77
    PFN_DataObjOp DeleteDataObj;   // 78
    PFN_ReadDataObj ReadDataObj;   // 79
    PFN_WriteDataObj WriteDataObj; // 80
};

constexpr std::size_t UK_SLOT_COUNT = 81;

#define UK_SLOT_AT(member, n)                                                                                          \
    static_assert(offsetof(UK_FUNCTION_LIST, member) == (n) * sizeof(void*), #member " is not slot " #n)
UK_SLOT_AT(Initialize, 1);
UK_SLOT_AT(SendAPDUCmd, 7);
UK_SLOT_AT(GetDevInfo, 10);
UK_SLOT_AT(ModifyPIN, 24);
UK_SLOT_AT(Login, 27);
UK_SLOT_AT(GetRetryTimes, 29);
UK_SLOT_AT(GenRandom, 34);
UK_SLOT_AT(ImportPrivateKey, 37);
UK_SLOT_AT(ExportPublicKey, 41);
UK_SLOT_AT(AsymKeyInit, 49);
UK_SLOT_AT(HashFinal, 57);
UK_SLOT_AT(CheckDevName, 59);
UK_SLOT_AT(SelectAppDF, 62);
UK_SLOT_AT(ReadCert, 69);
UK_SLOT_AT(EnumDataObj, 76);
UK_SLOT_AT(WriteDataObj, 80);
static_assert(sizeof(UK_FUNCTION_LIST) == UK_SLOT_COUNT * sizeof(void*), "table size");
#undef UK_SLOT_AT

typedef std::uint32_t(UKAPI* PFN_ukGetFunctionList)(UK_FUNCTION_LIST** list);

} // namespace devicelib
