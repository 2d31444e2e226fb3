// Device-layer PIN functions: change, information, verification, the user
// PIN reset and clearing the token's security state.
#include "DeviceLayer.h"
#include "KeptPins.h"
#include "Logger.h"
#include "DeviceLibrary.h"

#include <cstring>

namespace {

constexpr ULONG kMaxRetryCount = 6;
constexpr ULONG kMaxApduData = 255;
constexpr ULONG kCommandResponseRoom = 128;

// Administrator 0 and user 1 are the vendor's 2 and 1; other types 0.
std::uint32_t VendorPinType(ULONG ulPINType)
{
    return ulPINType == ADMIN_TYPE ? devicelib::UK_PIN_ADMIN : ulPINType == USER_TYPE ? devicelib::UK_PIN_USER : 0;
}

std::uint32_t Length(const char* text)
{
    return static_cast<std::uint32_t>(std::strlen(text));
}

const std::uint8_t* Bytes(const char* text)
{
    return reinterpret_cast<const std::uint8_t*>(text);
}

// After a refused PIN: the tries left, or the failure to read them.
ULONG ReportTriesLeft(DevCtx* pDevCtx, std::uint32_t type, ULONG* pulRetryCount, ULONG refusal)
{
    std::uint32_t word = 0;
    ULONG rc = g_FuncList->GetRetryTimes(pDevCtx->pCtx, type, type, &word);
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "GetRetryTimes err[%#lx]", rc);
        return rc;
    }
    if (pulRetryCount) *pulRetryCount = word & devicelib::UK_RETRY_TRIES_MASK;
    return refusal;
}

} // namespace

ULONG DF_ChangePIN(DevCtx* pDevCtx, ULONG ulPINType, const char* szOldPin, const char* szNewPin, ULONG* pulRetryCount)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (!szOldPin) return DF_NULL("szOldPin", DF_ERR_NULL_POINTER);
    if (!szNewPin) return DF_NULL("szNewPin", DF_ERR_NULL_POINTER);
    if (!pulRetryCount) return DF_NULL("pulRetryCount", DF_ERR_NULL_POINTER);
    // GBK full-width colon ends the line.
    // The PINs themselves never reach the log file.
    LogMessage(LOG_DEBUG, "DF_ChangePIN[szOldPin:***][szNewPin:***]\xA3\xBA");
    std::uint32_t type = VendorPinType(ulPINType);
    if (!type) {
        LogMessage(LOG_ERROR, "PIN type err[%lu]", ulPINType);
        return SAR_INVALIDPARAMERR;
    }
    ULONG rc = g_FuncList->ModifyPIN(pDevCtx->pCtx, type, type, Bytes(szOldPin), Length(szOldPin), Bytes(szNewPin),
                                     Length(szNewPin));
    if (rc == devicelib::UK_OK) {
        // The kept PIN follows the change, so the next file login uses the new one.
        if (ulPINType == USER_TYPE) KeepUserPin(pDevCtx->pins, szNewPin);
        return SAR_OK;
    }
    LogMessage(LOG_ERROR, "ModifyPIN err[%#lx]", rc);
    return ReportTriesLeft(pDevCtx, type, pulRetryCount, SAR_FAIL);
}

ULONG DF_GetPINInfo(DevCtx* pDevCtx, ULONG ulPINType, ULONG* pulMaxRetryCount, ULONG* pulRemainRetryCount,
                    BOOL* pbDefaultPin)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (!pulMaxRetryCount) return DF_NULL("pulMaxRetryCount", DF_ERR_NULL_POINTER);
    if (!pulRemainRetryCount) return DF_NULL("pulRemainRetryCount", DF_ERR_NULL_POINTER);
    if (!pbDefaultPin) return DF_NULL("pbDefaultPin", DF_ERR_NULL_POINTER);
    std::uint32_t type = VendorPinType(ulPINType);
    std::uint32_t word = 0;
    ULONG rc = g_FuncList->GetRetryTimes(pDevCtx->pCtx, type, type, &word);
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "GetRetryTimes err[%#lx]", rc);
        return rc;
    }
    // The token does not tell its maximum; the library states six.
    if (type) *pulMaxRetryCount = kMaxRetryCount;
    *pulRemainRetryCount = word & devicelib::UK_RETRY_TRIES_MASK;
    *pbDefaultPin = (word & devicelib::UK_RETRY_FACTORY_DEFAULT) ? TRUE : FALSE;
    return SAR_OK;
}

// A user PIN is kept once the token accepted it; a refused one forgets the
// kept one, so no later login spends a try on it.
ULONG DF_VerifyPIN(DevCtx* pDevCtx, ULONG ulPINType, const char* szPIN, ULONG* pulRetryCount)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (!szPIN) return DF_NULL("szPIN", DF_ERR_NULL_POINTER);
    std::uint32_t type = VendorPinType(ulPINType);
    const bool user = ulPINType == USER_TYPE;
    ULONG rc = g_FuncList->Login(pDevCtx->pCtx, type, type, Bytes(szPIN), Length(szPIN));
    if (rc == devicelib::UK_OK) {
        if (user) KeepUserPin(pDevCtx->pins, szPIN);
        return SAR_OK;
    }
    if (user) ForgetUserPin(pDevCtx->pins);
    LogMessage(LOG_ERROR, "Login err[%#lx]", rc);
    return ReportTriesLeft(pDevCtx, type, pulRetryCount, rc);
}

ULONG DF_UnblockPIN(DevCtx* pDevCtx, const char* szAdminPIN, const char* szNewUserPIN, ULONG* pulRetryCount)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (!szAdminPIN) return DF_NULL("szAdminPIN", DF_ERR_NULL_POINTER);
    if (!szNewUserPIN) return DF_NULL("szNewUserPIN", DF_ERR_NULL_POINTER);
    std::uint32_t newLen = Length(szNewUserPIN);
    if (newLen > kMaxApduData) {
        LogMessage(LOG_ERROR, "szNewUserPIN len err[%u]", newLen);
        return SAR_INDATALENERR;
    }
    ULONG rc = g_FuncList->Login(pDevCtx->pCtx, devicelib::UK_PIN_ADMIN, devicelib::UK_PIN_ADMIN, Bytes(szAdminPIN),
                                 Length(szAdminPIN));
    if (rc == devicelib::UK_SW_NO_SUCH_PIN) {
        LogMessage(LOG_ERROR, "not exist so pin (6981)");
        return rc;
    }
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "Login err[%#lx]", rc);
        return ReportTriesLeft(pDevCtx, devicelib::UK_PIN_ADMIN, pulRetryCount, rc);
    }
    BYTE command[5 + kMaxApduData] = {0xB0, 0x22, 0x00, 0x01, static_cast<BYTE>(newLen)};
    std::memcpy(command + 5, szNewUserPIN, newLen);
    BYTE response[kCommandResponseRoom];
    ULONG len = sizeof response;
    rc = SendTokenCommand(pDevCtx, command, newLen + 5, response, &len);
    SecureZeroMemory(command, sizeof command);
    // The kept user PIN no longer opens the token.
    if (rc == SAR_OK) ForgetUserPin(pDevCtx->pins);
    return rc;
}

ULONG DF_ClearSecureState(DevCtx* pDevCtx)
{
    static const BYTE command[] = {0xB0, 0x99, 0x00, 0x00};
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    BYTE response[kCommandResponseRoom];
    ULONG len = sizeof response;
    return SendTokenCommand(pDevCtx, command, sizeof command, response, &len);
}
