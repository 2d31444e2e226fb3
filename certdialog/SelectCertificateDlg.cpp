#include "SelectCertificateDlg.h"

#include "ErrorCode.h"
#include "FoundationLibrary.h"
#include "PlatformStatus.h"
#include "TraceHelper.h"
#include "resource.h"

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <memory>

namespace {

const int kNameCch = 128;
const int kLineCch = 256;
const COLORREF kHeadingColour = RGB(0x00, 0x33, 0x99);

struct DialogStart {
    CSelectCertificateDlg *pDialog;
    const CERTIFICATE_DIALOG_PARAMS *pDialogParams;
};

// Templates live in the image that holds this code.
HINSTANCE CodeModule()
{
    HMODULE hModule = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&CodeModule), &hModule);
    return hModule;
}

// The value after the first "KEY=" up to the next comma, at most 127
// characters; empty when the key is missing.
std::wstring ValueOf(const wchar_t *pwszName, const wchar_t *pwszKey)
{
    const wchar_t *pwszFound = wcsstr(pwszName, pwszKey);
    if (pwszFound == nullptr) return std::wstring();
    pwszFound += wcslen(pwszKey);
    size_t cchValue = std::min<size_t>(wcscspn(pwszFound, L","), kNameCch - 1);
    return std::wstring(pwszFound, cchValue);
}

BOOL IsHardwareKey(PCCERT_CONTEXT pCertContext, HCRYPTPROV *phProv, BOOL *pbCallerFree)
{
    DWORD dwKeySpec = 0;
    if (!CryptAcquireCertificatePrivateKey(pCertContext, 0, nullptr, phProv, &dwKeySpec, pbCallerFree)) return FALSE;
    DWORD dwImpType = 0;
    DWORD cbImpType = sizeof(dwImpType);
    if (!CryptGetProvParam(*phProv, PP_IMPTYPE, reinterpret_cast<BYTE *>(&dwImpType), &cbImpType, 0)) return FALSE;
    return (dwImpType & (CRYPT_IMPL_HARDWARE | CRYPT_IMPL_REMOVABLE)) != 0;
}

// The row formats are the system's texts with "%ws": formatted by the
// platform's runtime, which knows that size prefix.
void FormatLine(WCHAR (&wszLine)[kLineCch], const WCHAR *pwszFormat, ...)
{
    va_list args;
    va_start(args, pwszFormat);
    _vsnwprintf(wszLine, kLineCch - 1, pwszFormat, args);
    va_end(args);
    wszLine[kLineCch - 1] = L'\0';
}

// One line of a row: its format loaded from the resources, then filled.
// The failure is traced as step under the caller's name.
template <class... Args>
HRESULT FormatRowLine(const wchar_t *kTraceFunction, HINSTANCE hInstance, UINT uFormatId, const wchar_t *pwszStep,
                      std::wstring &strLine, Args... args)
{
    WCHAR wszFormat[kLineCch] = {};
    if (LoadStringW(hInstance, uFormatId, wszFormat, kLineCch) == 0) {
        HRESULT hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
        TRACE_FAILED(pwszStep, L"nRetCode == 0", hResult);
        return hResult;
    }
    WCHAR wszLine[kLineCch] = {};
    FormatLine(wszLine, wszFormat, args...);
    strLine = wszLine;
    return S_OK;
}

bool RowComesFirst(const CERTIFICATE_LIST_ITEM &a, const CERTIFICATE_LIST_ITEM &b)
{
    if (a.bHardwareKey != b.bHardwareKey) return a.bHardwareKey != FALSE;
    return _wcsicmp(a.strCommonName.c_str(), b.strCommonName.c_str()) < 0;
}

void CentreOverOwner(HWND hWnd)
{
    RECT rcDialog = {};
    GetWindowRect(hWnd, &rcDialog);
    RECT rcArea = {};
    HWND hWndOwner = GetWindow(hWnd, GW_OWNER);
    if (hWndOwner == nullptr || !IsWindowVisible(hWndOwner) || IsIconic(hWndOwner)) {
        MONITORINFO stInfo = {};
        stInfo.cbSize = sizeof(stInfo);
        GetMonitorInfoW(MonitorFromWindow(hWnd, MONITOR_DEFAULTTONEAREST), &stInfo);
        rcArea = stInfo.rcWork;
    } else {
        GetWindowRect(hWndOwner, &rcArea);
    }
    int nWidth = rcDialog.right - rcDialog.left;
    int nHeight = rcDialog.bottom - rcDialog.top;
    SetWindowPos(hWnd, nullptr, (rcArea.left + rcArea.right - nWidth) / 2, (rcArea.top + rcArea.bottom - nHeight) / 2,
                 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// A control's rectangle in its dialog's client coordinates.
RECT ChildRect(HWND hWndDialog, HWND hWndChild)
{
    RECT rcChild = {};
    GetWindowRect(hWndChild, &rcChild);
    MapWindowPoints(nullptr, hWndDialog, reinterpret_cast<POINT *>(&rcChild), 2);
    return rcChild;
}

} // namespace

CSelectCertificateDlg::CSelectCertificateDlg()
{
    Gdiplus::GdiplusStartupInput stStartupInput;
    Gdiplus::GdiplusStartup(&m_gdiplusToken, &stStartupInput, nullptr);
}

CSelectCertificateDlg::~CSelectCertificateDlg()
{
    // The list's images are GDI+ objects: they go before GDI+ does.
    m_list.ReleaseImages();
    if (m_gdiplusToken != 0) Gdiplus::GdiplusShutdown(m_gdiplusToken);
    RemoveAllCertificates(m_vtrCandidates);
}

INT_PTR CSelectCertificateDlg::DoModal(HWND hWndOwner, const CERTIFICATE_DIALOG_PARAMS *pDialogParams)
{
    DialogStart stStart = {this, pDialogParams};
    return DialogBoxParamW(CodeModule(), MAKEINTRESOURCEW(IDD_SELECT_CERTIFICATE), hWndOwner, DialogProc,
                           reinterpret_cast<LPARAM>(&stStart));
}

INT_PTR CALLBACK CSelectCertificateDlg::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CSelectCertificateDlg *pThis = nullptr;
    if (uMsg == WM_INITDIALOG) {
        const DialogStart *pStart = reinterpret_cast<const DialogStart *>(lParam);
        pThis = pStart->pDialog;
        pThis->m_hWnd = hWnd;
        SetWindowLongPtrW(hWnd, DWLP_USER, reinterpret_cast<LONG_PTR>(pThis));
        lParam = reinterpret_cast<LPARAM>(pStart->pDialogParams);
    } else {
        pThis = reinterpret_cast<CSelectCertificateDlg *>(GetWindowLongPtrW(hWnd, DWLP_USER));
    }
    if (pThis == nullptr) return FALSE;

    LRESULT lResult = 0;
    if (!pThis->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult)) return FALSE;
    if (uMsg == WM_INITDIALOG) return static_cast<INT_PTR>(lResult);
    SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, lResult);
    return TRUE;
}

BOOL CSelectCertificateDlg::ProcessWindowMessage(HWND, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT &lResult)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        lResult = OnInitDialog(reinterpret_cast<const CERTIFICATE_DIALOG_PARAMS *>(lParam));
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return TRUE;
    case WM_PAINT:
        OnPaint();
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
        break;
    default:
        break;
    }
    return ReflectNotification(uMsg, wParam, lParam, lResult);
}

// Owner-draw and control notifications go back to the control that sent
// them, so that the list draws its own rows.
BOOL CSelectCertificateDlg::ReflectNotification(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT &lResult)
{
    HWND hWndChild = nullptr;
    switch (uMsg) {
    case WM_COMMAND:
        hWndChild = reinterpret_cast<HWND>(lParam);
        break;
    case WM_NOTIFY:
        hWndChild = reinterpret_cast<const NMHDR *>(lParam)->hwndFrom;
        break;
    case WM_DRAWITEM:
        if (wParam != 0) hWndChild = reinterpret_cast<const DRAWITEMSTRUCT *>(lParam)->hwndItem;
        break;
    case WM_MEASUREITEM:
        if (wParam != 0)
            hWndChild =
                GetDlgItem(m_hWnd, static_cast<int>(reinterpret_cast<const MEASUREITEMSTRUCT *>(lParam)->CtlID));
        break;
    case WM_COMPAREITEM:
        if (wParam != 0) hWndChild = reinterpret_cast<const COMPAREITEMSTRUCT *>(lParam)->hwndItem;
        break;
    case WM_DELETEITEM:
        if (wParam != 0) hWndChild = reinterpret_cast<const DELETEITEMSTRUCT *>(lParam)->hwndItem;
        break;
    default:
        break;
    }
    if (hWndChild == nullptr || !IsWindow(hWndChild)) return FALSE;
    lResult = SendMessageW(hWndChild, REFLECTED_MESSAGE_BASE + uMsg, wParam, lParam);
    return TRUE;
}

LRESULT CSelectCertificateDlg::OnInitDialog(const CERTIFICATE_DIALOG_PARAMS *pDialogParams)
{
    TRACE_FUNCTION(L"CSelectCertificateDlg::OnInitDialog");
    CentreOverOwner(m_hWnd);
    m_nDpi = GetWindowDPI(m_hWnd);
    SetIcons();
    if (m_list.GetHwnd() == nullptr) m_list.SubclassWindow(GetDlgItem(m_hWnd, IDC_CERTIFICATE_LIST));

    HRESULT hResult = ApplyDialogParams(pDialogParams);
    if (SUCCEEDED(hResult)) {
        OSVERSIONINFOW stVersion = {};
        stVersion.dwOSVersionInfoSize = sizeof(stVersion);
        m_bNewStyle = GetVersionExW(&stVersion) && stVersion.dwMajorVersion >= 6;

        hResult = LoadCertificates(pDialogParams->hCertStore);
        if (FAILED(hResult)) TRACE_FAILED(L"LoadCertificates", L"FAILED(hResult)", hResult);
    }
    if (SUCCEEDED(hResult)) {
        hResult = m_list.Initialize(m_hInstance, m_bNewStyle, m_vtrItems);
        if (FAILED(hResult)) TRACE_FAILED(L"CCertificateList::Initialize", L"FAILED(hResult)", hResult);
    }
    if (FAILED(hResult)) {
        // The dialog manager turns the close into the Cancel command.
        m_nErrorCode = hResult;
        SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
        return TRUE;
    }

    m_list.SetDPI(m_nDpi);
    AdjustWindowSize();
    HWND hWndList = m_list.GetHwnd();
    for (size_t i = 0; i < m_vtrItems.size(); ++i)
        SendMessageW(hWndList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L""));
    SendMessageW(hWndList, LB_SETCURSEL, 0, 0);
    BringWindowToTop(hWndList);

    m_nErrorCode = 0;
    ShowWindow(m_hWnd, SW_SHOW);
    return TRUE;
}

HRESULT CSelectCertificateDlg::ApplyDialogParams(const CERTIFICATE_DIALOG_PARAMS *pDialogParams)
{
    // Lines go out under the caller's name, without entry and exit events.
    static const wchar_t *const kTraceFunction = L"CSelectCertificateDlg::OnInitDialog";
    m_hInstance = CodeModule();
    if (pDialogParams == nullptr) {
        TRACE_FAILED(L"Check lParam passed to InitalDialog", L"lParam == NULL", E_INVALIDARG);
        return E_INVALIDARG;
    }
    if (pDialogParams->hInstance != nullptr) m_hInstance = pDialogParams->hInstance;
    if (pDialogParams->pwszTitle != nullptr)
        SendMessageW(m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(pDialogParams->pwszTitle));
    if (pDialogParams->pwszHeading != nullptr) {
        wcsncpy(m_wszHeading, pDialogParams->pwszHeading, _countof(m_wszHeading) - 1);
        m_wszHeading[_countof(m_wszHeading) - 1] = L'\0';
    }
    if (pDialogParams->pwszOKText != nullptr) SetDlgItemTextW(m_hWnd, IDOK, pDialogParams->pwszOKText);
    if (pDialogParams->pwszCancelText != nullptr) SetDlgItemTextW(m_hWnd, IDCANCEL, pDialogParams->pwszCancelText);

    if (m_wszHeading[0] == L'\0' &&
        LoadStringW(m_hInstance, IDS_SELECT_CERTIFICATE, m_wszHeading, _countof(m_wszHeading)) == 0) {
        HRESULT hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
        TRACE_FAILED(L"LoadString", L"nRetCode == 0", hResult);
        return hResult;
    }
    return S_OK;
}

// The deliverables carry no icon 102; a program that has one gets it shown.
void CSelectCertificateDlg::SetIcons()
{
    HINSTANCE hProgram = GetModuleHandleW(nullptr);
    HANDLE hBigIcon = LoadImageW(hProgram, MAKEINTRESOURCEW(IDI_SELECT_CERTIFICATE), IMAGE_ICON,
                                 GetSystemMetricsWithDpi(SM_CXICON, m_nDpi), GetSystemMetricsWithDpi(SM_CYICON, m_nDpi),
                                 LR_DEFAULTCOLOR);
    if (hBigIcon != nullptr) SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hBigIcon));
    HANDLE hSmallIcon = LoadImageW(hProgram, MAKEINTRESOURCEW(IDI_SELECT_CERTIFICATE), IMAGE_ICON,
                                   GetSystemMetricsWithDpi(SM_CXSMICON, m_nDpi),
                                   GetSystemMetricsWithDpi(SM_CYSMICON, m_nDpi), LR_DEFAULTCOLOR);
    if (hSmallIcon != nullptr) SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hSmallIcon));
}

HRESULT CSelectCertificateDlg::LoadCertificates(HCERTSTORE hCertStore)
{
    TRACE_FUNCTION(L"CSelectCertificateDlg::LoadCertificates");
    HRESULT hResult = ExtractCertificatesFromStore(hCertStore, m_vtrCandidates);
    if (FAILED(hResult)) {
        TRACE_FAILED(L"ExtractCertificatesFromStore", L"FAILED(hResult)", hResult);
    } else {
        m_vtrItems.clear();
        for (PCCERT_CONTEXT pCandidate : m_vtrCandidates) {
            CERTIFICATE_LIST_ITEM stItem;
            hResult = BuildCertificateListItem(m_hInstance, pCandidate, stItem);
            if (FAILED(hResult)) break;
            m_vtrItems.push_back(std::move(stItem));
        }
    }
    if (FAILED(hResult)) {
        RemoveAllCertificates(m_vtrCandidates);
        m_vtrItems.clear();
        return hResult;
    }
    if (m_vtrItems.size() > 1) SortCertificateListItems(m_vtrItems);
    return S_OK;
}

HRESULT BuildCertificateListItem(HINSTANCE hInstance, PCCERT_CONTEXT pCertContext, CERTIFICATE_LIST_ITEM &stItem)
{
    // Lines go out under the caller's name, without entry and exit events.
    static const wchar_t *const kTraceFunction = L"CSelectCertificateDlg::LoadCertificates";
    HCRYPTPROV hProv = 0;
    BOOL bCallerFree = FALSE;
    stItem.pCertContext = pCertContext;
    stItem.bHardwareKey = IsHardwareKey(pCertContext, &hProv, &bCallerFree);
    // The provider stays open while the row is built.
    std::unique_ptr<void, void (*)(void *)> providerGuard(
        bCallerFree && hProv != 0 ? reinterpret_cast<void *>(hProv) : nullptr,
        [](void *p) { CryptReleaseContext(reinterpret_cast<HCRYPTPROV>(p), 0); });

    DWORD cchText = 0;
    LPWSTR pwszSubject = nullptr;
    HRESULT hResult = QueryCertContextInfo(&cchText, &pwszSubject, pCertContext, CERTINFO_SUBJECT);
    TRACE_RETURN_IF_FAILED(L"QueryCertContextInfo (Subject)", hResult);
    stItem.strCommonName = ValueOf(pwszSubject, L"CN=");
    delete[] pwszSubject;

    LPWSTR pwszIssuer = nullptr;
    hResult = QueryCertContextInfo(&cchText, &pwszIssuer, pCertContext, CERTINFO_ISSUER);
    TRACE_RETURN_IF_FAILED(L"QueryCertContextInfo (Issuer)", hResult);
    std::wstring strIssuerName =
        wcsstr(pwszIssuer, L"O=") != nullptr ? ValueOf(pwszIssuer, L"O=") : ValueOf(pwszIssuer, L"CN=");
    delete[] pwszIssuer;
    hResult = FormatRowLine(kTraceFunction, hInstance, IDS_ISSUER_FORMAT, L"LoadString (Issuer)", stItem.strIssuer,
                            strIssuerName.c_str());
    if (FAILED(hResult)) return hResult;

    DWORD cbSerial = 0;
    BYTE *pbSerial = nullptr;
    hResult = QueryCertContextInfo(&cbSerial, &pbSerial, pCertContext, CERTINFO_SERIAL_NUMBER);
    TRACE_RETURN_IF_FAILED(L"QueryCertContextInfo (Serial number", hResult);
    LPWSTR pwszSerial = nullptr;
    hResult = ConvertBinaryDataToString(&pwszSerial, cbSerial, pbSerial, TRUE);
    delete[] pbSerial;
    TRACE_RETURN_IF_FAILED(L"FormatStringFromData (Serial number", hResult);
    std::wstring strSerial = pwszSerial;
    delete[] pwszSerial;
    hResult = FormatRowLine(kTraceFunction, hInstance, IDS_SERIAL_FORMAT, L"LoadString (Serial number)",
                            stItem.strSerialNumber, strSerial.c_str());
    if (FAILED(hResult)) return hResult;

    SYSTEMTIME stFrom = {};
    SYSTEMTIME stTo = {};
    DWORD cbTime = sizeof(SYSTEMTIME);
    hResult = QueryCertContextInfo(&cbTime, &stFrom, pCertContext, CERTINFO_NOT_BEFORE);
    TRACE_RETURN_IF_FAILED(L"QueryCertContextInfo (From-date", hResult);
    cbTime = sizeof(SYSTEMTIME);
    hResult = QueryCertContextInfo(&cbTime, &stTo, pCertContext, CERTINFO_NOT_AFTER);
    TRACE_RETURN_IF_FAILED(L"QueryCertContextInfo (To-date", hResult);
    return FormatRowLine(kTraceFunction, hInstance, IDS_VALIDITY_FORMAT, L"LoadString (Valid date)", stItem.strValidity,
                         stFrom.wYear, stFrom.wMonth, stFrom.wDay, stTo.wYear, stTo.wMonth, stTo.wDay);
}

void SortCertificateListItems(std::vector<CERTIFICATE_LIST_ITEM> &vtrItems)
{
    std::sort(vtrItems.begin(), vtrItems.end(), RowComesFirst);
}

int CSelectCertificateDlg::ListHeight() const
{
    int nEdge = GetSystemMetricsWithDpi(SM_CYDLGFRAME, m_nDpi);
    return m_nVisibleRows * CertificateRowHeight(m_nDpi) + 2 * nEdge;
}

void CSelectCertificateDlg::AdjustWindowSize()
{
    const RECT rcMonitor = GetMonitorRect(m_hWnd);
    const int nMonitorHeight = rcMonitor.bottom - rcMonitor.top;
    int nRows = (nMonitorHeight - ScaleForDpi(500, m_nDpi)) / CertificateRowHeight(m_nDpi);
    // A monitor too low for the margin still shows one row.
    m_nVisibleRows = std::min(std::max(nRows, 1), static_cast<int>(m_vtrItems.size()));

    HWND hWndList = m_list.GetHwnd();
    RECT rcList = ChildRect(m_hWnd, hWndList);
    int nListHeight = ListHeight();
    int nGrowth = rcList.top + nListHeight - rcList.bottom;

    RECT rcDialog = {};
    GetWindowRect(m_hWnd, &rcDialog);
    int nDialogHeight = rcDialog.bottom - rcDialog.top + nGrowth;
    SetWindowPos(m_hWnd, nullptr, rcDialog.left, CentredTop(rcMonitor, nDialogHeight), rcDialog.right - rcDialog.left,
                 nDialogHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(hWndList, nullptr, 0, 0, rcList.right - rcList.left, nListHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (int nId : {IDOK, IDCANCEL}) {
        HWND hWndButton = GetDlgItem(m_hWnd, nId);
        RECT rcButton = ChildRect(m_hWnd, hWndButton);
        SetWindowPos(hWndButton, nullptr, rcButton.left, rcButton.top + nGrowth, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CSelectCertificateDlg::OnOK()
{
    TRACE_FUNCTION(L"CSelectCertificateDlg::OnOK");
    LRESULT nRow = SendMessageW(m_list.GetHwnd(), LB_GETCURSEL, 0, 0);
    if (nRow < 0 || static_cast<size_t>(nRow) >= m_vtrItems.size()) {
        // Nothing to return: the caller hears that there is no certificate.
        m_nErrorCode = static_cast<LONG>(LastErrorFromOwnCode(VESK_E_NO_CERTIFICATE));
        TRACE_FAILED(L"Check selection", L"nIndex == LB_ERR", VESK_E_NO_CERTIFICATE);
        EndDialog(m_hWnd, IDOK);
        return;
    }
    m_pstCertificate = CertDuplicateCertificateContext(m_vtrItems[nRow].pCertContext);
    if (m_pstCertificate == nullptr) {
        HRESULT hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
        m_nErrorCode = hResult;
        TRACE_FAILED(L"CertDuplicateCertificateContext", L"m_pstCertificate == NULL", hResult);
    } else {
        m_nErrorCode = 0;
        TRACE_OK(L"CertDuplicateCertificateContext");
    }
    EndDialog(m_hWnd, IDOK);
}

void CSelectCertificateDlg::OnCancel()
{
    m_nErrorCode = static_cast<LONG>(CERTIFICATE_DIALOG_CANCELED);
    EndDialog(m_hWnd, IDCANCEL);
}

void CSelectCertificateDlg::OnDestroy()
{
    RemoveAllCertificates(m_vtrCandidates);
    m_vtrItems.clear();
}

void CSelectCertificateDlg::OnPaint()
{
    PAINTSTRUCT stPaint = {};
    HDC hDC = BeginPaint(m_hWnd, &stPaint);
    RECT rcClient = {};
    GetClientRect(m_hWnd, &rcClient);
    HBRUSH hWhite = CreateSolidBrush(RGB(0xFF, 0xFF, 0xFF));
    FillRect(hDC, &rcClient, hWhite);
    DeleteObject(hWhite);

    // Moved to a monitor of another DPI: rows and list follow.
    int nDpi = GetWindowDPI(m_hWnd);
    if (nDpi != m_nDpi) {
        m_nDpi = nDpi;
        HWND hWndList = m_list.GetHwnd();
        RECT rcList = ChildRect(m_hWnd, hWndList);
        SetWindowPos(hWndList, nullptr, 0, 0, rcList.right - rcList.left, ListHeight(),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        m_list.SetDPI(m_nDpi);
    }

    DrawTextAt(m_bNewStyle ? L"Microsoft YaHei" : L"Arial", hDC, m_wszHeading, ScaleForDpi(15, m_nDpi),
               ScaleForDpi(12, m_nDpi), rcClient.right - ScaleForDpi(20, m_nDpi), ScaleForDpi(8, m_nDpi),
               ScaleForDpi(m_bNewStyle ? 22 : 16, m_nDpi), kHeadingColour);
    EndPaint(m_hWnd, &stPaint);
}
