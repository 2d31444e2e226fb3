// The simulated token's slot functions, as the function table hands them out.
//
// Access rules, as the card enforces them per device handle:
// - no login: enumeration, labels, information, random numbers, hashing,
//   public-key export, import and use, containers created, listed, read and
//   deleted, certificates written and read, data objects listed and read,
//   the symmetric ciphers;
// - user PIN: key-pair generation, private-key import and export, every
//   private-key operation, container header writes, data objects created,
//   written and deleted;
// - administrator PIN: the user PIN reset.
#pragma once

#include "DeviceTable.h"

namespace tokensim {
namespace slots {

using devicelib::UK_HANDLE;
using devicelib::UK_KEY_REF;
using u8 = std::uint8_t;
using u32 = std::uint32_t;

u32 UKAPI Initialize(const char* applicationId);
u32 UKAPI Finalize(void* reserved);
u32 UKAPI EnumToken(char* names, u32* count);
u32 UKAPI OpenToken(const char* name, UK_HANDLE* device);
u32 UKAPI CloseToken(UK_HANDLE device);
u32 UKAPI SendAPDUCmd(UK_HANDLE device, const u8* command, u32 commandLen, u8* response, u32* responseLen);
u32 UKAPI GetDevLabel(UK_HANDLE device, char* label, u32* len);
u32 UKAPI SetDevLabel(UK_HANDLE device, const char* label, u32 len);
u32 UKAPI GetDevInfo(UK_HANDLE device, u32 infoClass, u8* info, u32* len);
u32 UKAPI ModifyPIN(UK_HANDLE device, u32 type, u32 type2, const u8* oldPin, u32 oldLen, const u8* newPin, u32 newLen);
u32 UKAPI Login(UK_HANDLE device, u32 type, u32 type2, const u8* pin, u32 len);
u32 UKAPI GetRetryTimes(UK_HANDLE device, u32 type, u32 type2, u32* info);
u32 UKAPI GenRandom(UK_HANDLE device, u8* buffer, u32 len);
u32 UKAPI GenerateKeyPair(UK_HANDLE device, u32 algorithm, u32 bits, u32 reserved1, u32 reserved2,
                          const UK_KEY_REF* publicRef, const UK_KEY_REF* privateRef);
u32 UKAPI ImportPrivateKey(UK_HANDLE device, u32 algorithm, const UK_KEY_REF* ref,
                           const devicelib::UK_PRIVATE_KEY* key);
u32 UKAPI ExportPrivateKey(UK_HANDLE device, u32 algorithm, const UK_KEY_REF* ref,
                           devicelib::UK_PRIVATE_KEY_AREAS* key);
u32 UKAPI ExportPublicKey(UK_HANDLE device, u32 algorithm, const UK_KEY_REF* ref, devicelib::UK_PUBLIC_KEY* key);
u32 UKAPI ImportPublicKey(UK_HANDLE device, u32 algorithm, const UK_KEY_REF* ref, const devicelib::UK_PUBLIC_KEY* key);
u32 UKAPI SymKeyEncInit(UK_HANDLE device, const devicelib::UK_SYM_KEY_SPEC* spec, UK_HANDLE* operation);
u32 UKAPI SymKeyDecInit(UK_HANDLE device, const devicelib::UK_SYM_KEY_SPEC* spec, UK_HANDLE* operation);
u32 UKAPI SymKeyEncUpdate(UK_HANDLE operation, const u8* in, u32 inLen, u8* out, u32* outLen);
u32 UKAPI SymKeyDecUpdate(UK_HANDLE operation, const u8* in, u32 inLen, u8* out, u32* outLen);
u32 UKAPI SymKeyEncFinal(UK_HANDLE operation, u8* out, u32* outLen);
u32 UKAPI SymKeyDecFinal(UK_HANDLE operation, u8* out, u32* outLen);
u32 UKAPI AsymKeyInit(UK_HANDLE device, const devicelib::UK_ASYM_KEY_SPEC* spec, UK_HANDLE* operation);
u32 UKAPI AsymKeyFinal(UK_HANDLE operation);
u32 UKAPI PubkeyEnc(UK_HANDLE operation, const u8* in, u32 inLen, u8* out, u32* outLen);
u32 UKAPI PrikeyDec(UK_HANDLE operation, const u8* in, u32 inLen, u8* out, u32* outLen);
u32 UKAPI PrikeySign(UK_HANDLE operation, u32 modeWord, u32 modeByte, const u8* data, u32 dataLen, u8* out,
                     u32* outLen);
u32 UKAPI PubKeyVerify(UK_HANDLE operation, const u8* in, u32 inLen, u8* out, u32* outLen);
u32 UKAPI HashInit(UK_HANDLE device, u32 algorithm, UK_HANDLE* hash);
u32 UKAPI HashUpdate(UK_HANDLE hash, const u8* data, u32 len);
u32 UKAPI HashFinal(UK_HANDLE hash, u8* digest, u32* len);
u32 UKAPI CheckDevName(const char* name, u32* kind, u32* reserved);
u32 UKAPI SelectAppDF(UK_HANDLE device);
u32 UKAPI EnumContainer(UK_HANDLE device, u8* records, u32* count);
u32 UKAPI CreateContainer(UK_HANDLE device, u8* record);
u32 UKAPI DeleteContainer(UK_HANDLE device, u8* record);
u32 UKAPI ReadContainer(UK_HANDLE device, u8* record);
u32 UKAPI WriteContainer(UK_HANDLE device, const u8* record, u32 flags);
u32 UKAPI WriteCert(UK_HANDLE device, const UK_KEY_REF* ref, const u8* cert, u32 len);
u32 UKAPI ReadCert(UK_HANDLE device, const UK_KEY_REF* ref, u8* cert, u32* len);
u32 UKAPI EnumDataObj(UK_HANDLE device, u8* records, u32* count);
u32 UKAPI CreateDataObj(UK_HANDLE device, const u8* record);
u32 UKAPI DeleteDataObj(UK_HANDLE device, const u8* record);
u32 UKAPI ReadDataObj(UK_HANDLE device, const u8* record, u32 flags, u8* data, u32* len);
u32 UKAPI WriteDataObj(UK_HANDLE device, const u8* record, u32 flags, const u8* data, u32 len);

// Shared by Login and the card's own PIN commands.
u32 CheckPin(struct Call& call, u32 type, const u8* pin, u32 len);

} // namespace slots
} // namespace tokensim
