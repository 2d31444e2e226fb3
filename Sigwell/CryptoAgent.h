// The signing agent: selects the signing certificate from the key
// containers of the installed providers, reports its fields and signs with
// it. One agent serves one caller at a time; its selection and its last
// status carry over from one call to the next.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <oleauto.h>

#include "CertificateChainOperate.h"

class CCryptoAgent {
public:
    CCryptoAgent();
    CCryptoAgent(const CCryptoAgent &) = delete;
    CCryptoAgent &operator=(const CCryptoAgent &) = delete;

    // The eight operations come first in the virtual table, in this order.
    // Every operation returns a status; BSTR results are new strings the
    // caller frees with SysFreeString. Filter texts may be null.
    virtual HRESULT SelectCertificate(LPCWSTR pwszSubjectDNFilter, LPCWSTR pwszIssuerDNFilter, LPCWSTR pwszSNFilter,
                                      LPCWSTR pwszCSPFilter, VARIANT_BOOL *pbSelected);
    virtual HRESULT GetSignCertInfo(LPCWSTR pwszInfoType, BSTR *pbstrInfo);
    virtual HRESULT SignMsgPKCS7(LPCWSTR pwszSourceData, LPCWSTR pwszHashAlg, VARIANT_BOOL bWithSrc,
                                 BSTR *pbstrSignature);
    virtual HRESULT SignMsgPKCS1(LPCWSTR pwszSourceData, LPCWSTR pwszHashAlg, BSTR *pbstrSignature);
    virtual HRESULT GetKeyID(LPCWSTR pwszCSPName, BSTR *pbstrKeyID);
    virtual HRESULT GetMACAddress(BSTR *pbstrMACAddress);
    virtual HRESULT GetVersion(BSTR *pbstrVersion);
    virtual HRESULT GetLastErrorDesc(BSTR *pbstrErrorDesc);

    virtual ~CCryptoAgent();

    // A caller's own failure after an operation (no memory for its
    // answer) becomes the status GetLastErrorDesc describes.
    void RecordStatus(HRESULT hResult) { m_hrLastError = hResult; }

    // One call at a time: false while another call holds the agent (the
    // provider's PIN dialog runs a message loop on the caller's thread, so
    // the caller can come back before the first call returns).
    bool EnterOperation();
    void LeaveOperation() { m_bInOperation = false; }

    // The most characters the Base64 SignedData of SignMsgPKCS7 over
    // cbData bytes can take with the selected certificate, known before
    // the key is used; VESK_E_CERT_NOT_READY when nothing is selected.
    HRESULT SignedDataTextLength(size_t cbData, bool bAttached, size_t *pcchText) const;

protected:
    // Object identifier prefix a candidate's signature algorithm must have:
    // SM2's. Tests widen it to reach the RSA path.
    virtual LPCSTR CandidateSignatureAlgorithm() const;

private:
    PCCERT_CONTEXT SelectedCertificate() const;
    bool IsCertificateSelected() const;
    void ReleaseSelection();
    HRESULT KeepSelection(PCCERT_CONTEXT pChosenCert, const UnregisteredCertVector &vtrRecords);
    HRESULT QueryInfoText(LPCWSTR pwszInfoType, wchar_t **ppwszText);
    HRESULT QueryCSPName(wchar_t **ppwszText);
    HRESULT SignSourceData(LPCWSTR pwszSourceData, LPCWSTR pwszHashAlg, bool bPKCS7, bool bAttached,
                           BSTR *pbstrSignature);

    HRESULT m_hrLastError;
    BOOL m_bSM2Certificate;
    PCCERT_CONTEXT m_pSignCertContext;
    PUNREGISTERED_CERT_CONTEXT m_pUnregisteredSignCertContext;
    PCCERT_CONTEXT m_pReservedCertContext;
    bool m_bInOperation;
};

// CryptoAPI hash identifier of "SHA-1", "SHA-256", "SHA-384" or "SHA-512"
// (any case); 0 for any other name.
ALG_ID GetHashAlgorithmIDByName(LPCWSTR pwszHashAlg);
