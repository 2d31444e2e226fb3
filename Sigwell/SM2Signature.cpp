#include "SM2Signature.h"

#include "Base64.h"
#include "ErrorCode.h"
#include "PlatformStatus.h"
#include "ProviderHash.h"
#include "SM2SignedData.h"
#include "TraceHelper.h"

#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Reads the hash value, which only goes to the trace.
HRESULT TraceHashValue(HCRYPTHASH hHash)
{
    DWORD cbHash = 0;
    if (!CryptGetHashParam(hHash, HP_HASHVAL, nullptr, &cbHash, 0)) return ReportFailedCall(L"CryptGetHashParam");
    std::unique_ptr<BYTE[]> pbHash(new (std::nothrow) BYTE[cbHash + 1]());
    if (!pbHash) {
        TraceStatus(L"New Memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    if (!CryptGetHashParam(hHash, HP_HASHVAL, pbHash.get(), &cbHash, 0)) return ReportFailedCall(L"CryptGetHashParam");
    LPWSTR pwszHex = nullptr;
    if (SUCCEEDED(ConvertBinaryDataToString(&pwszHex, cbHash, pbHash.get(), FALSE))) TraceValue(L"SM3 hash", pwszHex);
    delete[] pwszHex;
    return S_OK;
}

// The container must still hold the record's certificate: a token swapped
// for another whose container has the same name would otherwise sign with
// its own key for the selected certificate.
HRESULT CheckContainerCertificate(const wchar_t *kTraceFunction, HCRYPTPROV hProv,
                                  const UNREGISTERED_CERT_CONTEXT *pRecord)
{
    std::unique_ptr<BYTE[]> pbCertificate;
    DWORD cbCertificate = 0;
    HRESULT hResult = ReadKeyCertificate(kTraceFunction, hProv, pRecord->dwKeySpec, pbCertificate, cbCertificate);
    const PCCERT_CONTEXT pSelected = pRecord->pCertContext;
    if (FAILED(hResult) || cbCertificate != pSelected->cbCertEncoded ||
        memcmp(pbCertificate.get(), pSelected->pbCertEncoded, cbCertificate) != 0) {
        TRACE_FAILED(L"Check container certificate", L"pbCertificate != pCertContext->pbCertEncoded",
                     VESK_E_CERT_NOT_READY);
        return VESK_E_CERT_NOT_READY;
    }
    return S_OK;
}

} // namespace

HRESULT SM2CalculateHashandSignbyUnregisteredCert(const UNREGISTERED_CERT_CONTEXT *pCertContext, const BYTE *pbData,
                                                  DWORD cbData, BYTE **ppbSignature, DWORD *pcbSignature)
{
    TRACE_FUNCTION(L"SM2CalculateHashandSignbyUnregisteredCert");
    // An empty container name would open the provider's default container.
    if (pCertContext == nullptr || pCertContext->szContainerName[0] == '\0' || ppbSignature == nullptr ||
        pcbSignature == nullptr) {
        TraceStatus(L"Check parameters", E_INVALIDARG);
        return E_INVALIDARG;
    }
    ProviderHash handles;
    // A container that cannot be opened is reported as such rather than as
    // a failure of the hash that follows.
    HRESULT hResult = AcquireContainer(pCertContext->wszProviderName, pCertContext->szContainerName, &handles.m_hProv);
    if (FAILED(hResult)) return ReportStatus(L"CryptAcquireContext", hResult);
    hResult = CheckContainerCertificate(kTraceFunction, handles.m_hProv, pCertContext);
    if (FAILED(hResult)) return hResult;
    if (!CryptCreateHash(handles.m_hProv, CALG_PROVIDER_SM3, 0, 0, &handles.m_hHash))
        return ReportFailedCall(L"CryptCreateHash");
    if (!CryptHashData(handles.m_hHash, pbData, cbData, 0)) return ReportFailedCall(L"CryptHashData-CSP Once Hash");
    hResult = TraceHashValue(handles.m_hHash);
    if (FAILED(hResult)) return hResult;

    DWORD cbSignature = 0;
    if (!CryptSignHashW(handles.m_hHash, pCertContext->dwKeySpec, nullptr, 0, nullptr, &cbSignature))
        return ReportFailedCall(L"CryptSignHash");
    std::unique_ptr<BYTE[]> pbSignature(new (std::nothrow) BYTE[cbSignature ? cbSignature : 1]());
    if (!pbSignature) {
        TraceStatus(L"New Memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    if (!CryptSignHashW(handles.m_hHash, pCertContext->dwKeySpec, nullptr, 0, pbSignature.get(), &cbSignature))
        return ReportFailedCall(L"CryptSignHash");
    if (cbSignature != SM2_RAW_SIGNATURE_SIZE) {
        hResult = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        TraceStatus(L"Check SM2 raw signature size", hResult);
        return hResult;
    }

    // The provider hands out r and s each least significant byte first.
    const DWORD cbHalf = SM2_RAW_SIGNATURE_SIZE / 2;
    std::reverse(pbSignature.get(), pbSignature.get() + cbHalf);
    std::reverse(pbSignature.get() + cbHalf, pbSignature.get() + SM2_RAW_SIGNATURE_SIZE);
    *ppbSignature = pbSignature.release();
    *pcbSignature = SM2_RAW_SIGNATURE_SIZE;
    return S_OK;
}

HRESULT SM2SignBinaryDatabyUnregisteredCert(const UNREGISTERED_CERT_CONTEXT *pCertContext, DWORD cbData, BOOL bAttached,
                                            LPCSTR pszSignatureObjId, BSTR *pbstrSignature, const BYTE *pbData)
{
    TRACE_FUNCTION(L"SM2SignBinaryDatabyUnregisteredCert");
    BYTE *pbRaw = nullptr;
    DWORD cbRaw = 0;
    HRESULT hResult = SM2CalculateHashandSignbyUnregisteredCert(pCertContext, pbData, cbData, &pbRaw, &cbRaw);
    std::unique_ptr<BYTE[]> raw(pbRaw);
    if (FAILED(hResult)) return hResult;

    BYTE *pbEncoded = nullptr;
    DWORD cbEncoded = 0;
    hResult = SM2EncodeRawSignature(&cbEncoded, pbRaw, cbRaw, &pbEncoded, SM2_SIGNATURE_DER_OCTET_STRING);
    std::unique_ptr<BYTE[]> encoded(pbEncoded);
    if (FAILED(hResult)) return hResult;

    return SM2EncapsulatePKCS7(pCertContext->pCertContext, SM2_OID_SM3, pszSignatureObjId, pbData, cbData, pbEncoded,
                               cbEncoded, bAttached, BASE64_NO_LINE_BREAKS, pbstrSignature, nullptr);
}
