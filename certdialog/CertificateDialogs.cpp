#include "CertificateDialogs.h"

#include "ErrorCode.h"
#include "PlatformStatus.h"
#include "SelectCertificateDlg.h"
#include "TraceHelper.h"

namespace {

const DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

bool IsValidForm(const CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT *pParams)
{
    return pParams != nullptr &&
        (pParams->dwForm == CUSTOM_CRYPTUI_FORM_SHORT || pParams->dwForm == CUSTOM_CRYPTUI_FORM_LONG);
}

// A record that cannot be read takes the dialog's road, which refuses it.
bool ShowsAlways(const CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT *pParams)
{
    if (!IsValidForm(pParams)) return true;
    if (pParams->dwForm == CUSTOM_CRYPTUI_FORM_SHORT) return pParams->u.shortForm.dwShowAlways != 0;
    return pParams->u.longForm.pwszTitle != nullptr;
}

HWND OwnerWindow(const CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT *pParams)
{
    if (pParams->dwForm == CUSTOM_CRYPTUI_FORM_SHORT && pParams->u.shortForm.dwOwnerGiven == 1)
        return pParams->u.shortForm.hWndOwner;
    if (pParams->dwForm == CUSTOM_CRYPTUI_FORM_LONG && pParams->u.longForm.dwOwnerGiven == 1)
        return pParams->u.longForm.hWndOwner;
    return GetActiveWindow();
}

HRESULT SelectFromCandidateStore(const CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT *pParams, PCCERT_CONTEXT *ppSelectedCert,
                                 const std::vector<PCCERT_CONTEXT> &vtrCandidates)
{
    static const wchar_t *const kTraceFunction = L"CustomCryptUIDlgSelectCertificate";
    HCERTSTORE hCacheCertStore = CertOpenStore(CERT_STORE_PROV_MEMORY, kCertEncoding, 0, 0, nullptr);
    if (hCacheCertStore == nullptr) {
        HRESULT hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
        TRACE_FAILED(L"CertOpenStore", L"hCacheCertStore == NULL", hResult);
        return hResult;
    }
    TRACE_OK(L"CertOpenStore");

    HRESULT hResult = S_OK;
    for (PCCERT_CONTEXT pCandidate : vtrCandidates) {
        // Identical candidates make one row.
        BOOL bRetCode =
            CertAddCertificateContextToStore(hCacheCertStore, pCandidate, CERT_STORE_ADD_USE_EXISTING, nullptr);
        if (bRetCode == FALSE) {
            hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
            TRACE_FAILED(L"CertAddCertificateContextToStore", L"bRetCode == FALSE", hResult);
            break;
        }
    }

    if (SUCCEEDED(hResult)) {
        PCCERT_CONTEXT pstSelectedCert = CustomCryptUIDlgSelectCertificateFromStore(pParams, hCacheCertStore);
        if (pstSelectedCert == nullptr) {
            hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
            TRACE_FAILED(L"CustomCryptUIDlgSelectCertificateFromStore", L"pstSelectedCert == NULL", hResult);
        } else {
            TRACE_OK(L"CustomCryptUIDlgSelectCertificateFromStore");
            *ppSelectedCert = pstSelectedCert;
        }
    }
    // The chosen context keeps its own reference to the closed store.
    CertCloseStore(hCacheCertStore, 0);
    return hResult;
}

} // namespace

HRESULT CustomCryptUIDlgSelectCertificate(const CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT *pParams,
                                          PCCERT_CONTEXT *ppSelectedCert, std::vector<PCCERT_CONTEXT> vtrCandidates)
{
    TRACE_FUNCTION(L"CustomCryptUIDlgSelectCertificate");
    if (ppSelectedCert == nullptr) return E_INVALIDARG;
    *ppSelectedCert = nullptr;

    if (!ShowsAlways(pParams) && vtrCandidates.size() == 1) {
        PCCERT_CONTEXT pstSelectedCert = CertDuplicateCertificateContext(vtrCandidates[0]);
        if (pstSelectedCert == nullptr) {
            HRESULT hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
            TRACE_FAILED(L"CertDuplicateCertificateContext", L"pstSelectedCert == NULL", hResult);
            return hResult;
        }
        TRACE_OK(L"CertDuplicateCertificateContext");
        *ppSelectedCert = pstSelectedCert;
        return S_OK;
    }
    return SelectFromCandidateStore(pParams, ppSelectedCert, vtrCandidates);
}

PCCERT_CONTEXT CustomCryptUIDlgSelectCertificateFromStore(const CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT *pParams,
                                                          HCERTSTORE hCertStore)
{
    TRACE_FUNCTION(L"CustomCryptUIDlgSelectCertificateFromStore");
    if (!IsValidForm(pParams)) {
        TRACE_FAILED(L"Check parameter(pParams)", L"TRUE", E_INVALIDARG);
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }

    CERTIFICATE_DIALOG_PARAMS stDialogParams = {};
    stDialogParams.hInstance = pParams->hInstance;
    stDialogParams.hCertStore = hCertStore;
    stDialogParams.hWndOwner = OwnerWindow(pParams);
    if (pParams->dwForm == CUSTOM_CRYPTUI_FORM_LONG) {
        stDialogParams.pwszTitle = pParams->u.longForm.pwszTitle;
        stDialogParams.pwszOKText = pParams->u.longForm.pwszOKText;
        stDialogParams.pwszCancelText = pParams->u.longForm.pwszCancelText;
    }

    PCCERT_CONTEXT pstSelectedCert = nullptr;
    DWORD dwErrorCode = 0;
    RunSelectCertificateDialog(&stDialogParams, &pstSelectedCert, &dwErrorCode);
    SetLastError(dwErrorCode);
    return pstSelectedCert;
}

INT_PTR RunSelectCertificateDialog(const CERTIFICATE_DIALOG_PARAMS *pDialogParams, PCCERT_CONTEXT *ppSelectedCert,
                                   DWORD *pdwErrorCode)
{
    TRACE_FUNCTION(L"RunSelectCertificateDialog");
    // Makes the calling thread a window thread before any dialog is made.
    DefWindowProcW(nullptr, 0, 0, 0);

    CSelectCertificateDlg dialog;
    HWND hWndOwner = pDialogParams != nullptr ? pDialogParams->hWndOwner : nullptr;
    INT_PTR nResult = dialog.DoModal(hWndOwner, pDialogParams);
    *ppSelectedCert = dialog.GetSelectedCertificate();
    *pdwErrorCode = dialog.GetErrorCode();
    // The dialog ends only with OK or Cancel: -1, or the 0 of an owner
    // window that is not valid, means it was never made.
    if (nResult <= 0 && *pdwErrorCode == 0) *pdwErrorCode = CERTIFICATE_DIALOG_NOT_CREATED;
    return nResult;
}
