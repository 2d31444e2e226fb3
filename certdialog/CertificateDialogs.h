// Entry functions that put candidate certificates before the user and
// return the one chosen.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <vector>

enum : DWORD {
    CUSTOM_CRYPTUI_FORM_SHORT = 0,
    CUSTOM_CRYPTUI_FORM_LONG = 1,
};

// The caller's parameter record; dwForm selects which member of u is read.
struct CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT {
    DWORD dwForm;
    HINSTANCE hInstance; // its string table gives the dialog's heading
    union {
        struct {
            DWORD dwShowAlways; // 1: show the dialog even for one candidate
            DWORD dwOwnerGiven; // 1: hWndOwner is the owner window
            HWND hWndOwner;
        } shortForm;
        struct {
            LPCWSTR pwszTitle; // non-null also means show always
            LPCWSTR pwszOKText;
            LPCWSTR pwszCancelText;
            DWORD dwOwnerGiven;
            HWND hWndOwner;
        } longForm;
    } u;
};

// Handed to the selection dialog as its initialisation parameter. Texts are
// borrowed; a null text leaves the dialog's default.
struct CERTIFICATE_DIALOG_PARAMS {
    HINSTANCE hInstance;
    HCERTSTORE hCertStore;
    HWND hWndOwner;
    LPCWSTR pwszTitle;
    LPCWSTR pwszHeading;
    DWORD dwReserved;
    LPCWSTR pwszOKText;
    LPCWSTR pwszCancelText;
};

// The cancel code of the dialog as it travels in the thread's last error.
const DWORD CERTIFICATE_DIALOG_CANCELED = 0x20001002;
// The error code of a dialog that could not be made on its owner window.
const DWORD CERTIFICATE_DIALOG_NOT_CREATED = ERROR_TLW_WITH_WSCHILD; // 1406

// A single candidate comes back without a window unless the record asks for
// the dialog always. On success *ppSelectedCert is a new reference that the
// caller frees; the candidates stay the caller's.
HRESULT CustomCryptUIDlgSelectCertificate(const CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT *pParams,
                                          PCCERT_CONTEXT *ppSelectedCert, std::vector<PCCERT_CONTEXT> vtrCandidates);

// The chosen certificate or null; the outcome travels as the last error:
// 0, CERTIFICATE_DIALOG_CANCELED, ERROR_INVALID_PARAMETER, 1406 or the
// dialog's own failure.
PCCERT_CONTEXT CustomCryptUIDlgSelectCertificateFromStore(const CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT *pParams,
                                                          HCERTSTORE hCertStore);

// Runs the modal selection dialog: IDOK, IDCANCEL, or -1 when it cannot run.
INT_PTR RunSelectCertificateDialog(const CERTIFICATE_DIALOG_PARAMS *pDialogParams, PCCERT_CONTEXT *ppSelectedCert,
                                   DWORD *pdwErrorCode);
