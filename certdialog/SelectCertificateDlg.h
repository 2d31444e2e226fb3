// The modal dialog that lists candidate certificates and returns the one
// the user picks.
#pragma once

#include "CertificateDialogs.h"
#include "CertificateListCtrl.h"
#include "CertificateQuery.h"

#include <windows.h>
#include <wincrypt.h>

#include <vector>

class CSelectCertificateDlg {
public:
    CSelectCertificateDlg();
    ~CSelectCertificateDlg();
    CSelectCertificateDlg(const CSelectCertificateDlg &) = delete;
    CSelectCertificateDlg &operator=(const CSelectCertificateDlg &) = delete;

    // IDOK, IDCANCEL, or -1 when the dialog cannot be made.
    INT_PTR DoModal(HWND hWndOwner, const CERTIFICATE_DIALOG_PARAMS *pDialogParams);

    // Set by OK; the reader owns it.
    PCCERT_CONTEXT GetSelectedCertificate() const { return m_pstCertificate; }
    // 0, a failure status, or CERTIFICATE_DIALOG_CANCELED.
    DWORD GetErrorCode() const { return static_cast<DWORD>(m_nErrorCode); }

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT &lResult);
    BOOL ReflectNotification(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT &lResult);

    LRESULT OnInitDialog(const CERTIFICATE_DIALOG_PARAMS *pDialogParams);
    HRESULT ApplyDialogParams(const CERTIFICATE_DIALOG_PARAMS *pDialogParams);
    void SetIcons();
    void OnOK();
    void OnCancel();
    void OnDestroy();
    void OnPaint();

    HRESULT LoadCertificates(HCERTSTORE hCertStore);
    void AdjustWindowSize();
    int ListHeight() const;

    HWND m_hWnd = nullptr;
    ULONG_PTR m_gdiplusToken = 0;
    HINSTANCE m_hInstance = nullptr;
    BOOL m_bNewStyle = FALSE;
    WCHAR m_wszHeading[128] = {};
    CertificateVector m_vtrCandidates;
    std::vector<CERTIFICATE_LIST_ITEM> m_vtrItems;
    CCertificateList m_list;
    LONG m_nErrorCode = 0;
    PCCERT_CONTEXT m_pstCertificate = nullptr;
    int m_nVisibleRows = 0;
    int m_nDpi = 96;
};

// One row for a candidate, its lines formatted with the instance's strings;
// the row shares the certificate.
HRESULT BuildCertificateListItem(HINSTANCE hInstance, PCCERT_CONTEXT pCertContext, CERTIFICATE_LIST_ITEM &stItem);

// Rows with a hardware key first, each group by common name ignoring case.
void SortCertificateListItems(std::vector<CERTIFICATE_LIST_ITEM> &vtrItems);
