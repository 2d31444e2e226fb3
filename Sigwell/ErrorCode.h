// Status codes of the browser-facing deliverables and the conversions from
// the thread's last error.
//
// A status is an HRESULT: 0 is success, a value below zero a failure. Our
// own codes are 0xA007xxxx (severity, customer bit, facility 7) whose low
// word is the id of their text in the string table; while such a code
// travels as a thread's last error it is 0x2000xxxx.
#pragma once

#include <windows.h>

constexpr HRESULT VESK_OK = 0;

constexpr HRESULT VESK_E_NO_CERTIFICATE = static_cast<HRESULT>(0xA0071001);
constexpr HRESULT VESK_E_USER_CANCELED = static_cast<HRESULT>(0xA0071002);
constexpr HRESULT VESK_E_QUERY_TYPE = static_cast<HRESULT>(0xA0071003);
constexpr HRESULT VESK_E_CERT_REGISTERED = static_cast<HRESULT>(0xA0071009);
constexpr HRESULT VESK_E_NO_KEY_USAGE = static_cast<HRESULT>(0xA0071020);
constexpr HRESULT VESK_E_NO_SUBJECT_KEY_ID = static_cast<HRESULT>(0xA0071021);
constexpr HRESULT VESK_E_TOO_MANY_CERTIFICATES = static_cast<HRESULT>(0xA0071110);
constexpr HRESULT VESK_E_TOO_MANY_KEYS = static_cast<HRESULT>(0xA0071111);
constexpr HRESULT VESK_E_XML_NODE = static_cast<HRESULT>(0xA0071402);
constexpr HRESULT VESK_E_CERT_NOT_READY = static_cast<HRESULT>(0xA0072001);
constexpr HRESULT VESK_E_INVALID_HASH_ALG = static_cast<HRESULT>(0xA0072020);
constexpr HRESULT VESK_E_INVALID_CERT_USAGE = static_cast<HRESULT>(0xA0072021);
constexpr HRESULT VESK_E_INVALID_KEY_ALG = static_cast<HRESULT>(0xA0072401);
constexpr HRESULT VESK_E_JSON_CREATE = static_cast<HRESULT>(0xA0073202);
constexpr HRESULT VESK_E_JSON_PARAM_TYPE = static_cast<HRESULT>(0xA0073204);

// The customer bit: set on every own code, as status and as last error.
constexpr DWORD VESK_CUSTOMER_BIT = 0x20000000;

// The agent's conversion of a last error: values of 0 or below are
// statuses already; own codes (0x2000xxxx) become 0xA007xxxx and every
// other positive value a Win32 status 0x8007xxxx.
constexpr HRESULT StatusFromLastError(DWORD dwLastError)
{
    const LONG nLastError = static_cast<LONG>(dwLastError);
    if (nLastError <= 0) return nLastError;
    if (dwLastError & VESK_CUSTOMER_BIT) return static_cast<HRESULT>((dwLastError & 0xFFFF) | 0xA0070000);
    return static_cast<HRESULT>((dwLastError & 0xFFFF) | 0x80070000);
}

// The utility functions' conversion: they never see own codes, so every
// positive last error is a Win32 status 0x8007xxxx.
constexpr HRESULT Win32StatusFromLastError(DWORD dwLastError)
{
    const LONG nLastError = static_cast<LONG>(dwLastError);
    if (nLastError <= 0) return nLastError;
    return static_cast<HRESULT>((dwLastError & 0xFFFF) | 0x80070000);
}

// An own status as it travels as a last error from a function that can
// only return a Boolean: 0xA007xxxx becomes 0x2000xxxx.
constexpr DWORD LastErrorFromOwnCode(HRESULT hrOwnCode)
{
    return (static_cast<DWORD>(hrOwnCode) & 0xFFFF) | VESK_CUSTOMER_BIT;
}
