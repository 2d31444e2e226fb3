// The 24 CryptoAPI provider entry points. Each one logs its start and its
// arguments, checks its required pointers, runs one inner operation, logs
// the result and leaves it as the thread's last error.
#include "CryptOperations.h"
#include "DebugLog.h"
#include "HashObject.h"
#include "KeyBlobs.h"
#include "KeyObject.h"
#include "ModuleState.h"
#include "ObjectLists.h"
#include "PinCache.h"
#include "ProviderContext.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <new>

// Exported by name and ordinal through KeltoCSP.def.
#define CSP_EXPORT extern "C"

namespace {

constexpr DWORD kBusy = 170; // ERROR_BUSY

struct ExportSpec {
    const char* start;
    const char* invalid; // logged on a missing pointer; null: nothing
    bool invalidToDebuggerOnly;
    const char* failure; // logged on a non-zero result; null: nothing
    bool failureCode;    // the code follows the failure line
    const char* result;
    const char* end;
};

const ExportSpec kAcquireContext = {"CPAcquireContext Start.......\n",
                                    "---->ERROR_INVALID_PARAMETER(phProv).....\n",
                                    true,
                                    "---->uk_AcquireContext.......\n",
                                    false,
                                    "uk_AcquireContext = %#x\n",
                                    "CPAcquireContext End.......\n"};
const ExportSpec kReleaseContext = {"CPReleaseContext Start.......\n",
                                    "---->ERROR_INVALID_PARAMETER......\n",
                                    false,
                                    "---->uk_ReleaseContext.......\n",
                                    false,
                                    "uk_ReleaseContext = %#x\n",
                                    "CPReleaseContext End.......\n"};

#define PLAIN_EXPORT(var, name, invalid)                                                                               \
    const ExportSpec var = {"CP" name " Start......\n",  invalid, false,                                               \
                            "---->uk_" name ".......\n", false,   "uk_" name " = %#x\n",                               \
                            "CP" name " End.......\n"}
constexpr const char* kInvalidLine = "---->ERROR_INVALID_PARAMETER......\n";
constexpr const char* kInvalidText = "---->ERROR_INVALID_PARAMETER......";
PLAIN_EXPORT(kCreateHash, "CreateHash", kInvalidLine);
PLAIN_EXPORT(kDecrypt, "Decrypt", kInvalidText);
PLAIN_EXPORT(kDeriveKey, "DeriveKey", kInvalidLine);
PLAIN_EXPORT(kDestroyHash, "DestroyHash", kInvalidLine);
PLAIN_EXPORT(kDestroyKey, "DestroyKey", kInvalidLine);
PLAIN_EXPORT(kEncrypt, "Encrypt", kInvalidText);
PLAIN_EXPORT(kExportKey, "ExportKey", kInvalidLine);
PLAIN_EXPORT(kGenKey, "GenKey", kInvalidLine);
PLAIN_EXPORT(kGetHashParam, "GetHashParam", kInvalidLine);
PLAIN_EXPORT(kGetKeyParam, "GetKeyParam", kInvalidLine);
PLAIN_EXPORT(kGetUserKey, "GetUserKey", kInvalidLine);
PLAIN_EXPORT(kHashData, "HashData", kInvalidLine);
PLAIN_EXPORT(kHashSessionKey, "HashSessionKey", kInvalidLine);
PLAIN_EXPORT(kImportKey, "ImportKey", kInvalidText);
PLAIN_EXPORT(kSetHashParam, "SetHashParam", kInvalidLine);
PLAIN_EXPORT(kSetKeyParam, "SetKeyParam", kInvalidLine);
PLAIN_EXPORT(kSetProvParam, "SetProvParam", kInvalidLine);
PLAIN_EXPORT(kVerifySignature, "VerifySignature", kInvalidText);
#undef PLAIN_EXPORT
const ExportSpec kGetProvParam = {"CPGetProvParam Start......\n",  kInvalidLine, false,
                                  "---->uk_GetProvParam.......\n", true,         "uk_GetProvParam = %#x\n",
                                  "CPGetProvParam End.......\n"};
const ExportSpec kSignHash = {"CPSignHash Start......\n",  kInvalidText, false,
                              "---->uk_SignHash.......\n", false,        "uk_SignHash = %#x",
                              "CPSignHash End.......\n"};
const ExportSpec kGenRandom = {"CPGenRandom Start......\n", nullptr, false,
                               "---->uk_GenRandom...\n",    false,   "uk_GenRandom = %#x\n",
                               "CPGenRandom End......"};

// Debugger lines are formatted into a bounded local buffer of the size
// each export has always used.
void DebugFormat(std::size_t room, const char* format, ...)
{
    char line[1024];
    if (room > sizeof line) room = sizeof line;
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, room, format, args);
    va_end(args);
    OutputDebugStringA(line);
}

// Handles and pointers as the 32-bit values the log has always shown.
unsigned Low(const void* pointer)
{
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(pointer));
}
unsigned Low(ULONG_PTR handle)
{
    return static_cast<unsigned>(handle);
}
unsigned ValueAt(const DWORD* pointer)
{
    return pointer ? *pointer : 0;
}

// Up to four first bytes of a parameter block in hex. The block's length
// is not passed: only the bytes that the parameter always has are read.
struct HexPrefix {
    char text[16] = {};
    HexPrefix(const BYTE* data, unsigned available)
    {
        if (!data) {
            std::snprintf(text, sizeof text, "(null)");
            return;
        }
        for (unsigned i = 0; i < available && i < 4; ++i) std::snprintf(text + 2 * i, 3, "%02X", data[i]);
    }
};

// A salt may be shorter than four bytes; an unknown parameter has no
// known length at all.
unsigned KeyParamBytes(DWORD param)
{
    switch (param) {
    case KP_IV:
    case KP_PADDING:
    case KP_MODE:
    case KP_PERMISSIONS:
    case KP_CERTIFICATE:
    case KP_SALT_EX:
        return 4;
    default:
        return 0;
    }
}

unsigned HashParamBytes(DWORD param)
{
    return param == HP_HASHVAL ? 4 : 0;
}

class ProviderGuard {
public:
    ProviderGuard() { EnterCriticalSection(&ProviderLock); }
    ~ProviderGuard() { LeaveCriticalSection(&ProviderLock); }
    ProviderGuard(const ProviderGuard&) = delete;
    ProviderGuard& operator=(const ProviderGuard&) = delete;
};

BOOL Refuse(const ExportSpec& spec)
{
    if (spec.invalid && spec.invalidToDebuggerOnly)
        OutputDebugStringA(spec.invalid);
    else if (spec.invalid)
        LogLine(spec.invalid);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

BOOL Conclude(const ExportSpec& spec, DWORD result)
{
    if (result != 0 && spec.failure) LogLine(spec.failure);
    if (result != 0 && spec.failureCode) LogCode(result);
    DebugFormat(256, spec.result, static_cast<unsigned>(result));
    OutputDebugStringA(spec.end);
    SetLastError(result);
    return result == 0;
}

// No C++ exception leaves the provider for its caller: running out of
// memory is NTE_NO_MEMORY, anything else NTE_FAIL.
template <class Inner>
DWORD Contained(Inner inner)
{
    try {
        return inner();
    } catch (const std::bad_alloc&) {
        return static_cast<DWORD>(NTE_NO_MEMORY);
    } catch (...) {
        return static_cast<DWORD>(NTE_FAIL);
    }
}

template <class Inner>
BOOL Run(const ExportSpec& spec, bool argumentsPresent, Inner inner)
{
    if (!argumentsPresent) return Refuse(spec);
    return Conclude(spec, Contained(inner));
}

template <class Inner>
BOOL RunLocked(const ExportSpec& spec, bool argumentsPresent, Inner inner)
{
    return Run(spec, argumentsPresent, [&] {
        ProviderGuard hold;
        return inner();
    });
}

// Marks a signature in progress until it ends, however it ends.
class SigningMark {
public:
    SigningMark() { InterlockedExchange(&SigningInProgress, 1); }
    ~SigningMark() { InterlockedExchange(&SigningInProgress, 0); }
    SigningMark(const SigningMark&) = delete;
    SigningMark& operator=(const SigningMark&) = delete;
};

DWORD SignUnderLock(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD keySpec, DWORD flags, BYTE* signature, DWORD* sigLen)
{
    ProviderGuard hold;
    SigningMark mark;
    // Every signature asks for the PIN again.
    if (ProviderContext* context = LookupProviderContext(hProv)) PinCache_ClearForSession(&context->session);
    DWORD result = SignHashImpl(hProv, hHash, keySpec, flags, signature, sigLen);
    if (result != 0) DebugFormat(256, "uk_SignHash = %#x\n", static_cast<unsigned>(result));
    return result;
}

} // namespace

CSP_EXPORT BOOL WINAPI CPGetCSPName(wchar_t* name)
{
    // The only export that leaves the caller's last error as it was.
    DWORD lastError = GetLastError();
    OutputDebugStringA("CPGetCSPName Start......\n");
    DebugFormat(256, "CSPName:0x%0x;\n", Low(name));
    if (name) std::wmemcpy(name, kProviderNameW, sizeof kProviderNameW / sizeof kProviderNameW[0]);
    OutputDebugStringA("CPGetCSPName...\n");
    OutputDebugStringA("CPGetCSPName end......\n");
    SetLastError(lastError);
    return TRUE;
}

CSP_EXPORT BOOL WINAPI CPAcquireContext(HCRYPTPROV* phProv, LPCSTR szContainer, DWORD dwFlags, void* pVTable)
{
    OutputDebugStringA(kAcquireContext.start);
    DebugFormat(256, "phProv:0x%0x; szContainer:0x%0x; dwFlags:%#x; pVTable:0x%0x\n", Low(phProv), Low(szContainer),
                static_cast<unsigned>(dwFlags), Low(pVTable));
    if (!phProv) return Refuse(kAcquireContext);
    // No context is handed out while a signature waits for its PIN.
    if (InterlockedCompareExchange(&SigningInProgress, 0, 0) == 1) {
        LogLine("CCLOG WAIT SIGN\n");
        SetLastError(kBusy);
        return FALSE;
    }
    return RunLocked(kAcquireContext, true, [&] {
        // Bound here rather than under the loader lock at attach.
        LoadDeviceLibrary();
        return AcquireContextImpl(phProv, szContainer, dwFlags);
    });
}

CSP_EXPORT BOOL WINAPI CPReleaseContext(HCRYPTPROV hProv, DWORD dwFlags)
{
    OutputDebugStringA(kReleaseContext.start);
    DebugFormat(256, "hProv:0x%0x; dwFlags:%#x;\n", Low(hProv), static_cast<unsigned>(dwFlags));
    if (!hProv) {
        SetLastError(0);
        return TRUE;
    }
    return RunLocked(kReleaseContext, true, [&] { return ReleaseContextImpl(hProv, dwFlags); });
}

CSP_EXPORT BOOL WINAPI CPGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey)
{
    OutputDebugStringA(kGenKey.start);
    DebugFormat(256, "hProv:0x%0x;Algid:%#x; dwFlags:%#x;phKey:0x%0x\n", Low(hProv), Algid,
                static_cast<unsigned>(dwFlags), Low(phKey));
    return Run(kGenKey, hProv && phKey, [&] { return GenKeyImpl(hProv, Algid, dwFlags, phKey); });
}

CSP_EXPORT BOOL WINAPI CPDeriveKey(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTHASH hBaseData, DWORD dwFlags,
                                   HCRYPTKEY* phKey)
{
    OutputDebugStringA(kDeriveKey.start);
    DebugFormat(256, "hProv:0x%0x;Algid:%#x; hHash:0x%0x; dwFlags:%#x;phKey:0x%0x\n", Low(hProv), Algid, Low(hBaseData),
                static_cast<unsigned>(dwFlags), Low(phKey));
    return Run(kDeriveKey, hProv && phKey && hBaseData,
               [&] { return DeriveKeyImpl(hProv, Algid, hBaseData, dwFlags, phKey); });
}

CSP_EXPORT BOOL WINAPI CPDestroyKey(HCRYPTPROV hProv, HCRYPTKEY hKey)
{
    OutputDebugStringA(kDestroyKey.start);
    DebugFormat(256, "hProv:0x%0x;hKey:0x%0x\n", Low(hProv), Low(hKey));
    return Run(kDestroyKey, hProv && hKey, [&] { return DestroyKeyImpl(hProv, hKey); });
}

CSP_EXPORT BOOL WINAPI CPSetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags)
{
    OutputDebugStringA(kSetKeyParam.start);
    DebugFormat(1024, "hProv:0x%0x; hKey:0x%0x; dwParam:%#x; pbData:[0x%0x]=%s;dwFlags:%#x\n", Low(hProv), Low(hKey),
                static_cast<unsigned>(dwParam), Low(pbData), HexPrefix(pbData, KeyParamBytes(dwParam)).text,
                static_cast<unsigned>(dwFlags));
    return Run(kSetKeyParam, hProv && hKey && pbData,
               [&] { return SetKeyParamImpl(hProv, hKey, dwParam, pbData, dwFlags); });
}

CSP_EXPORT BOOL WINAPI CPGetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, LPBYTE pbData, LPDWORD pcbDataLen,
                                     DWORD dwFlags)
{
    OutputDebugStringA(kGetKeyParam.start);
    DebugFormat(256, "hProv:0x%0x; hKey:0x%0x; dwParam:%#x; pbData:0x%0x;pcbDataLen:[0x%0x] = %#x; dwFlags:%#x\n",
                Low(hProv), Low(hKey), static_cast<unsigned>(dwParam), Low(pbData), Low(pcbDataLen),
                ValueAt(pcbDataLen), static_cast<unsigned>(dwFlags));
    return Run(kGetKeyParam, hProv && hKey, [&]() -> DWORD {
        if (dwFlags != 0) {
            LogLine("---->NTE_BAD_FLAGS.....\n");
            return static_cast<DWORD>(NTE_BAD_FLAGS);
        }
        if (!pcbDataLen) return ERROR_INVALID_PARAMETER;
        return GetKeyParamImpl(hProv, hKey, dwParam, pbData, pcbDataLen);
    });
}

CSP_EXPORT BOOL WINAPI CPSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD)
{
    // No argument line: the data may be a PIN.
    OutputDebugStringA(kSetProvParam.start);
    return Run(kSetProvParam, hProv != 0, [&] { return SetProvParamImpl(hProv, dwParam, pbData); });
}

CSP_EXPORT BOOL WINAPI CPGetProvParam(HCRYPTPROV hProv, DWORD dwParam, LPBYTE pbData, LPDWORD pcbDataLen, DWORD dwFlags)
{
    OutputDebugStringA(kGetProvParam.start);
    DebugFormat(256, "hProv:0x%0x; dwParam:%#x; pbData:0x%0x; pcbDataLen:[0x%0x]=%#x;dwFlags:%#x\n", Low(hProv),
                static_cast<unsigned>(dwParam), Low(pbData), Low(pcbDataLen), ValueAt(pcbDataLen),
                static_cast<unsigned>(dwFlags));
    return RunLocked(kGetProvParam, hProv != 0, [&]() -> DWORD {
        if (!pcbDataLen) return ERROR_INVALID_PARAMETER;
        return GetProvParamImpl(hProv, dwParam, pbData, pcbDataLen, dwFlags);
    });
}

CSP_EXPORT BOOL WINAPI CPCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags, HCRYPTHASH* phHash)
{
    OutputDebugStringA(kCreateHash.start);
    DebugFormat(256, "hProv:0x%0x; Algid:%#x; hKey:0x%0x; dwFlags:%#x; phHash:0x%0x\n", Low(hProv), Algid, Low(hKey),
                static_cast<unsigned>(dwFlags), Low(phHash));
    return Run(kCreateHash, hProv && phHash, [&] { return CreateHashImpl(hProv, Algid, hKey, dwFlags, phHash); });
}

CSP_EXPORT BOOL WINAPI CPDestroyHash(HCRYPTPROV hProv, HCRYPTHASH hHash)
{
    OutputDebugStringA(kDestroyHash.start);
    DebugFormat(256, "hProv:0x%0x;hHash:0x%0x", Low(hProv), Low(hHash));
    return Run(kDestroyHash, hProv && hHash, [&] { return DestroyHashImpl(hProv, hHash); });
}

CSP_EXPORT BOOL WINAPI CPSetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData,
                                      DWORD dwFlags)
{
    OutputDebugStringA(kSetHashParam.start);
    DebugFormat(256, "hProv:0x%0x; hHash:0x%0x; dwParam:%#x; pbData:[0x%0x]=%s; dwFlags:%#x;\n", Low(hProv), Low(hHash),
                static_cast<unsigned>(dwParam), Low(pbData), HexPrefix(pbData, HashParamBytes(dwParam)).text,
                static_cast<unsigned>(dwFlags));
    return Run(kSetHashParam, hProv && hHash && pbData,
               [&] { return SetHashParamImpl(hProv, hHash, dwParam, pbData, dwFlags); });
}

CSP_EXPORT BOOL WINAPI CPGetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, LPBYTE pbData,
                                      LPDWORD pcbDataLen, DWORD dwFlags)
{
    OutputDebugStringA(kGetHashParam.start);
    DebugFormat(256, "hProv:0x%0x; hHash:0x%0x; dwParam:%#x; pbData:0x%0x; pcbDataLen:[0x%0x]=%#x; dwFlags=%#x\n",
                Low(hProv), Low(hHash), static_cast<unsigned>(dwParam), Low(pbData), Low(pcbDataLen),
                ValueAt(pcbDataLen), static_cast<unsigned>(dwFlags));
    return Run(kGetHashParam, hProv && hHash, [&]() -> DWORD {
        if (!pcbDataLen) return ERROR_INVALID_PARAMETER;
        return GetHashParamImpl(hProv, hHash, dwParam, pbData, pcbDataLen, dwFlags);
    });
}

CSP_EXPORT BOOL WINAPI CPHashData(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbData, DWORD cbDataLen,
                                  DWORD dwFlags)
{
    OutputDebugStringA(kHashData.start);
    DebugFormat(256, "hProv:0x%0x; hHash:0x%0x; pbData:0x%0x; cbDataLen:%#x; dwFlags=%#x\n", Low(hProv), Low(hHash),
                Low(pbData), static_cast<unsigned>(cbDataLen), static_cast<unsigned>(dwFlags));
    return Run(kHashData, hProv && hHash && pbData,
               [&] { return HashDataImpl(hProv, hHash, pbData, cbDataLen, dwFlags); });
}

CSP_EXPORT BOOL WINAPI CPHashSessionKey(HCRYPTPROV hProv, HCRYPTHASH hHash, HCRYPTKEY hKey, DWORD dwFlags)
{
    OutputDebugStringA(kHashSessionKey.start);
    DebugFormat(256, "hProv:0x%0x; hHash:0x%0x; hKey:0x%0x; dwFlags=%#x\n", Low(hProv), Low(hHash), Low(hKey),
                static_cast<unsigned>(dwFlags));
    return Run(kHashSessionKey, hProv && hHash && hKey,
               [&] { return HashSessionKeyImpl(hProv, hHash, hKey, dwFlags); });
}

CSP_EXPORT BOOL WINAPI CPGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey)
{
    OutputDebugStringA(kGetUserKey.start);
    DebugFormat(256, "hProv:0x%0x; dwKeySpec:%#x; phUserKey:0x%0x\n", Low(hProv), static_cast<unsigned>(dwKeySpec),
                Low(phUserKey));
    return Run(kGetUserKey, hProv && phUserKey, [&] { return GetUserKeyImpl(hProv, dwKeySpec, phUserKey); });
}

CSP_EXPORT BOOL WINAPI CPExportKey(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey, DWORD dwBlobType, DWORD dwFlags,
                                   LPBYTE pbData, LPDWORD pcbDataLen)
{
    OutputDebugStringA(kExportKey.start);
    DebugFormat(256,
                "hProv:0x%0x; hKey:0x%0x; hPubKey:0x%0x; dwBlobType:%#x; dwFlags:%#x; pbData=0x%0x; "
                "pcbDataLen=[0x%0x]=%#x\n",
                Low(hProv), Low(hKey), Low(hPubKey), static_cast<unsigned>(dwBlobType), static_cast<unsigned>(dwFlags),
                Low(pbData), Low(pcbDataLen), ValueAt(pcbDataLen));
    return Run(kExportKey, hProv && hKey,
               [&] { return ExportKeyImpl(hProv, hKey, hPubKey, dwBlobType, pbData, pcbDataLen); });
}

CSP_EXPORT BOOL WINAPI CPImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD cbDataLen, HCRYPTKEY hPubKey,
                                   DWORD dwFlags, HCRYPTKEY* phKey)
{
    OutputDebugStringA(kImportKey.start);
    DebugFormat(256, "hProv:0x%0x; pbData:0x%0x; cbDataLen:%#x; hPubKey:0x%0x; dwFlags:%#x;phKey=0x%0x\n", Low(hProv),
                Low(pbData), static_cast<unsigned>(cbDataLen), Low(hPubKey), static_cast<unsigned>(dwFlags),
                Low(phKey));
    return Run(kImportKey, hProv && pbData && phKey,
               [&] { return ImportKeyImpl(hProv, pbData, cbDataLen, hPubKey, dwFlags, phKey); });
}

CSP_EXPORT BOOL WINAPI CPEncrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal, DWORD dwFlags,
                                 LPBYTE pbData, LPDWORD pcbDataLen, DWORD cbBufLen)
{
    OutputDebugStringA(kEncrypt.start);
    DebugFormat(256,
                "hProv:0x%0x; hKey:0x%0x; hHash:0x%0x; fFinal:%#x; dwFlags:%#x; pbData=0x%0x; "
                "pcbDataLen:[0x%0x]=%#x; cbBufLen:%#x\n",
                Low(hProv), Low(hKey), Low(hHash), static_cast<unsigned>(fFinal), static_cast<unsigned>(dwFlags),
                Low(pbData), Low(pcbDataLen), ValueAt(pcbDataLen), static_cast<unsigned>(cbBufLen));
    return Run(kEncrypt, hProv && hKey,
               [&] { return EncryptImpl(hProv, hKey, hHash, fFinal, dwFlags, pbData, pcbDataLen, cbBufLen); });
}

CSP_EXPORT BOOL WINAPI CPDecrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal, DWORD dwFlags,
                                 LPBYTE pbData, LPDWORD pcbDataLen)
{
    OutputDebugStringA(kDecrypt.start);
    DebugFormat(256,
                "hProv:0x%0x; hKey:0x%0x; hHash:0x%0x; fFinal:%#x; dwFlags:%#x; pbData=0x%0x; "
                "pcbDataLen:[0x%0x]=%#x;\n",
                Low(hProv), Low(hKey), Low(hHash), static_cast<unsigned>(fFinal), static_cast<unsigned>(dwFlags),
                Low(pbData), Low(pcbDataLen), ValueAt(pcbDataLen));
    return Run(kDecrypt, hProv && hKey,
               [&] { return DecryptImpl(hProv, hKey, hHash, fFinal, dwFlags, pbData, pcbDataLen); });
}

CSP_EXPORT BOOL WINAPI CPSignHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwKeySpec, LPCWSTR szDescription,
                                  DWORD dwFlags, LPBYTE pbSignature, LPDWORD pcbSigLen)
{
    OutputDebugStringA(kSignHash.start);
    DebugFormat(512,
                "hProv:0x%0x; hHash:0x%0x; dwKeySpec:%#x; szDescription:[0x%0x]=%ls; dwFlags:%#x; "
                "pbSignature:0x%0x;pcbSigLen:[0x%0x]=%#x\n",
                Low(hProv), Low(hHash), static_cast<unsigned>(dwKeySpec), Low(szDescription),
                szDescription ? szDescription : L"(null)", static_cast<unsigned>(dwFlags), Low(pbSignature),
                Low(pcbSigLen), ValueAt(pcbSigLen));
    return Run(kSignHash, hProv && hHash, [&]() -> DWORD {
        if (!pcbSigLen) return ERROR_INVALID_PARAMETER;
        return SignUnderLock(hProv, hHash, dwKeySpec, dwFlags, pbSignature, pcbSigLen);
    });
}

CSP_EXPORT BOOL WINAPI CPVerifySignature(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbSignature, DWORD cbSigLen,
                                         HCRYPTKEY hPubKey, LPCWSTR szDescription, DWORD dwFlags)
{
    OutputDebugStringA(kVerifySignature.start);
    DebugFormat(256,
                "hProv:0x%0x; hHash:0x%0x; pbSignature:0x%0x; cbSigLen:%#x; hPubKey:0x%0x; szDescription=0x%0x;"
                "dwFlags=%#x\n",
                Low(hProv), Low(hHash), Low(pbSignature), static_cast<unsigned>(cbSigLen), Low(hPubKey),
                Low(szDescription), static_cast<unsigned>(dwFlags));
    return Run(kVerifySignature, hProv && hHash && pbSignature && hPubKey,
               [&] { return VerifySignatureImpl(hProv, hHash, pbSignature, cbSigLen, hPubKey, dwFlags); });
}

CSP_EXPORT BOOL WINAPI CPGenRandom(HCRYPTPROV hProv, DWORD dwLen, LPBYTE pbBuffer)
{
    OutputDebugStringA(kGenRandom.start);
    DebugFormat(256, "hProv:0x%0x; cbLen:%#x; pbBuffer:0x%0x;\n", Low(hProv), static_cast<unsigned>(dwLen),
                Low(pbBuffer));
    if (!hProv || !pbBuffer) return Refuse(kGenRandom);
    if (dwLen == 0) {
        SetLastError(0);
        return TRUE;
    }
    return Conclude(kGenRandom, [&]() -> DWORD {
        // The handle is only followed when it is a live context.
        auto* context = reinterpret_cast<ProviderContext*>(hProv);
        if (!g_ProviderContexts.Contains(context) || context->magic != kProviderMagic)
            return static_cast<DWORD>(NTE_BAD_UID);
        DWORD result = Token_GenRandom(&context->session, dwLen, pbBuffer);
        return result == static_cast<DWORD>(NTE_BAD_LEN) ? result : result ? static_cast<DWORD>(NTE_FAIL) : 0;
    }());
}
