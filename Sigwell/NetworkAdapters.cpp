#include "NetworkAdapters.h"

#include "TraceHelper.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

const char kNetworkClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
const DWORD PNP_INSTANCE_ID_CB = 260;

class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;
    ~RegKey()
    {
        if (m_hKey != nullptr) RegCloseKey(m_hKey);
    }

    HKEY m_hKey = nullptr;
};

} // namespace

LONG IsLocalAdapter(const char *pszAdapterName, BOOL *pbLocal)
{
    if (pszAdapterName == nullptr || *pszAdapterName == '\0' || pbLocal == nullptr) {
        TRACE_A_FAILED("Check parameters", -1, "(NULL == pszAdapterName || 0 == strlen(pszAdapterName))");
        return -1;
    }
    *pbLocal = FALSE;

    RegKey network;
    LONG nResult = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNetworkClassKey, 0, KEY_READ, &network.m_hKey);
    if (nResult != ERROR_SUCCESS) {
        TRACE_A_FAILED("RegOpenKeyEx(Network)", nResult, "ERROR_SUCCESS != nResult");
        return nResult;
    }

    const size_t cchSubKey = strlen(pszAdapterName) + sizeof("\\Connection");
    std::unique_ptr<char[]> pszSubKey(new (std::nothrow) char[cchSubKey]);
    if (!pszSubKey) {
        TRACE_A_FAILED("New memory", E_OUTOFMEMORY, "!pszSubKey");
        return E_OUTOFMEMORY;
    }
    snprintf(pszSubKey.get(), cchSubKey, "%s\\Connection", pszAdapterName);
    RegKey connection;
    nResult = RegOpenKeyExA(network.m_hKey, pszSubKey.get(), 0, KEY_READ, &connection.m_hKey);
    if (nResult != ERROR_SUCCESS) {
        TRACE_A_FAILED("RegOpenKeyEx(Connection)", nResult, "ERROR_SUCCESS != nResult");
        return nResult;
    }

    // One byte more than the value may fill, so the text always ends.
    char szInstanceId[PNP_INSTANCE_ID_CB + 1] = {};
    DWORD cbInstanceId = PNP_INSTANCE_ID_CB;
    nResult = RegQueryValueExA(connection.m_hKey, "PnPInstanceId", nullptr, nullptr,
                               reinterpret_cast<BYTE *>(szInstanceId), &cbInstanceId);
    if (nResult != ERROR_SUCCESS) {
        TRACE_A_FAILED("RegQueryValueEx(PnPInstanceId)", nResult, "ERROR_SUCCESS != nResult");
        return nResult;
    }
    TRACE_A_VALUE("PnPInstanceId", szInstanceId);
    *pbLocal = strncmp(szInstanceId, "PCI", 3) == 0 || strncmp(szInstanceId, "USB", 3) == 0;
    return 0;
}
