#include "CertificateListCtrl.h"

#include "ErrorCode.h"
#include "FoundationLibrary.h"
#include "TraceHelper.h"
#include "resource.h"

#include <commctrl.h>
#include <cryptuiapi.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>

namespace {

const UINT_PTR kSubclassId = 1001;
const int kToolTipTextCch = 256;

typedef BOOL(WINAPI *ViewCertificateFn)(PCCRYPTUI_VIEWCERTIFICATE_STRUCTW, BOOL *);

struct RowColours {
    COLORREF clrTop;
    COLORREF clrBottom;
    COLORREF clrBorder;
};

const RowColours kSelectedRow = {RGB(0xDD, 0xEC, 0xFD), RGB(0xC2, 0xDC, 0xFD), RGB(0x7D, 0xB6, 0xCE)};
const RowColours kHoveredRow = {RGB(0xFD, 0xFE, 0xFF), RGB(0xB9, 0xD7, 0xFC), RGB(0xF3, 0xF8, 0xFF)};

TRIVERTEX Vertex(int x, int y, COLORREF clr)
{
    TRIVERTEX stVertex = {};
    stVertex.x = x;
    stVertex.y = y;
    stVertex.Red = static_cast<COLOR16>(GetRValue(clr) << 8);
    stVertex.Green = static_cast<COLOR16>(GetGValue(clr) << 8);
    stVertex.Blue = static_cast<COLOR16>(GetBValue(clr) << 8);
    return stVertex;
}

// cryptui has no import library here, and is needed only for a double click.
void ViewCertificate(HWND hWndParent, PCCERT_CONTEXT pCertContext)
{
    HMODULE hCryptUI = LoadLibraryW(L"cryptui.dll");
    if (hCryptUI == nullptr) return;
    ViewCertificateFn pView = reinterpret_cast<ViewCertificateFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(hCryptUI, "CryptUIDlgViewCertificateW")));
    if (pView != nullptr) {
        CRYPTUI_VIEWCERTIFICATE_STRUCTW stView = {};
        stView.dwSize = sizeof(stView);
        stView.hwndParent = hWndParent;
        stView.pCertContext = pCertContext;
        BOOL bChanged = FALSE;
        pView(&stView, &bChanged);
    }
    FreeLibrary(hCryptUI);
}

} // namespace

CCertificateList::CCertificateList() = default;

CCertificateList::~CCertificateList()
{
    if (m_hWnd != nullptr) RemoveWindowSubclass(m_hWnd, SubclassProc, kSubclassId);
    m_vtrItems.clear();
    ReleaseImages();
}

BOOL CCertificateList::SubclassWindow(HWND hWnd)
{
    if (m_hWnd != nullptr || hWnd == nullptr) return FALSE;
    if (!SetWindowSubclass(hWnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) return FALSE;
    m_hWnd = hWnd;
    return TRUE;
}

void CCertificateList::ReleaseImages()
{
    delete m_pSystemCertImage;
    delete m_pKeyCertImage;
    delete m_pFrameImage;
    m_pSystemCertImage = m_pKeyCertImage = m_pFrameImage = nullptr;
}

HRESULT CCertificateList::Initialize(HINSTANCE hInstance, BOOL bNewStyle, std::vector<CERTIFICATE_LIST_ITEM> vtrItems)
{
    TRACE_FUNCTION(L"CCertificateList::Initialize");
    m_bNewStyle = bNewStyle;
    ReleaseImages();

    struct {
        UINT nId;
        Gdiplus::Image **ppImage;
        const wchar_t *pwszStep;
    } const images[] = {
        {IDP_SYSTEM_CERTIFICATE, &m_pSystemCertImage, L"LoadImageFromResource (System certificate)"},
        {IDP_KEY_CERTIFICATE, &m_pKeyCertImage, L"LoadImageFromResource (Key certificate)"},
        {IDP_CERTIFICATE_FRAME, &m_pFrameImage, L"LoadImageFromResource (Certificate frame)"},
    };
    for (const auto &image : images) {
        HRESULT hResult = LoadImageFromResource(hInstance, image.nId, image.ppImage);
        TRACE_RETURN_IF_FAILED(image.pwszStep, hResult);
        TRACE_OK(image.pwszStep);
    }

    m_vtrItems = std::move(vtrItems);
    CreateToolTip(hInstance);
    return S_OK;
}

void CCertificateList::CreateToolTip(HINSTANCE hInstance)
{
    INITCOMMONCONTROLSEX stControls = {sizeof(stControls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&stControls);
    if (m_hToolTip == nullptr)
        m_hToolTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr, hInstance, nullptr);
    if (m_hToolTip == nullptr) return;
    TTTOOLINFOW stTool = {};
    stTool.cbSize = TTTOOLINFOW_V2_SIZE;
    stTool.uFlags = TTF_IDISHWND;
    stTool.hwnd = GetParent(m_hWnd);
    stTool.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
    stTool.lpszText = const_cast<LPWSTR>(L"");
    SendMessageW(m_hToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&stTool));
    SendMessageW(m_hToolTip, TTM_ACTIVATE, TRUE, 0);
}

void CCertificateList::SetDPI(int nDpi)
{
    m_nDpi = nDpi;
    int nRows = static_cast<int>(SendMessageW(m_hWnd, LB_GETCOUNT, 0, 0));
    for (int nRow = 0; nRow < nRows; ++nRow)
        SendMessageW(m_hWnd, LB_SETITEMHEIGHT, static_cast<WPARAM>(nRow), MAKELPARAM(CertificateRowHeight(nDpi), 0));
    // Lays the rows out again at their new heights.
    SendMessageW(m_hWnd, LB_SETTOPINDEX, SendMessageW(m_hWnd, LB_GETTOPINDEX, 0, 0), 0);
}

int CertificateRowHeight(int nDpi)
{
    const int kMaxItemHeight = 255;
    return std::min(ScaleForDpi(CERTIFICATE_ROW_HEIGHT, nDpi), kMaxItemHeight);
}

int CCertificateList::HitTest() const
{
    POINT ptCursor = {};
    if (m_hWnd == nullptr || !GetCursorPos(&ptCursor) || !ScreenToClient(m_hWnd, &ptCursor)) return -1;
    return RowAt(ptCursor);
}

int CCertificateList::RowAt(POINT ptClient) const
{
    int nRows = static_cast<int>(SendMessageW(m_hWnd, LB_GETCOUNT, 0, 0));
    for (int nRow = 0; nRow < nRows; ++nRow) {
        RECT rcRow = {};
        if (SendMessageW(m_hWnd, LB_GETITEMRECT, static_cast<WPARAM>(nRow), reinterpret_cast<LPARAM>(&rcRow)) !=
                LB_ERR &&
            PtInRect(&rcRow, ptClient))
            return nRow;
    }
    return -1;
}

LRESULT CALLBACK CCertificateList::SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                DWORD_PTR dwRefData)
{
    CCertificateList *pThis = reinterpret_cast<CCertificateList *>(dwRefData);
    if (uMsg == WM_NCDESTROY) {
        RemoveWindowSubclass(hWnd, SubclassProc, kSubclassId);
        pThis->m_hWnd = nullptr;
        pThis->m_hToolTip = nullptr; // owned by the list, destroyed with it
        return DefSubclassProc(hWnd, uMsg, wParam, lParam);
    }
    LRESULT lResult = 0;
    if (pThis->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult)) return lResult;
    return DefSubclassProc(hWnd, uMsg, wParam, lParam);
}

BOOL CCertificateList::ProcessWindowMessage(HWND, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT &lResult)
{
    switch (uMsg) {
    case WM_MOUSEMOVE:
        OnMouseMove(uMsg, wParam, lParam);
        return FALSE;
    case WM_MOUSELEAVE:
        OnMouseLeave();
        return FALSE;
    case WM_LBUTTONDBLCLK:
        OnLButtonDblClk();
        return FALSE;
    case REFLECTED_MESSAGE_BASE + WM_MEASUREITEM:
        OnMeasureItem(reinterpret_cast<MEASUREITEMSTRUCT *>(lParam));
        lResult = TRUE;
        return TRUE;
    case REFLECTED_MESSAGE_BASE + WM_DRAWITEM:
        OnDrawItem(reinterpret_cast<const DRAWITEMSTRUCT *>(lParam));
        lResult = TRUE;
        return TRUE;
    default:
        return FALSE;
    }
}

void CCertificateList::OnMouseMove(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (!m_bTracking) {
        TRACKMOUSEEVENT stTrack = {};
        stTrack.cbSize = sizeof(stTrack);
        stTrack.dwFlags = TME_LEAVE;
        stTrack.hwndTrack = m_hWnd;
        stTrack.dwHoverTime = 0;
        if (TrackMouseEvent(&stTrack)) m_bTracking = TRUE;
    }
    if (m_hToolTip != nullptr) {
        MSG stMsg = {};
        stMsg.hwnd = m_hWnd;
        stMsg.message = uMsg;
        stMsg.wParam = wParam;
        stMsg.lParam = lParam;
        stMsg.time = static_cast<DWORD>(GetMessageTime());
        DWORD dwPos = GetMessagePos();
        stMsg.pt.x = static_cast<short>(LOWORD(dwPos));
        stMsg.pt.y = static_cast<short>(HIWORD(dwPos));
        SendMessageW(m_hToolTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&stMsg));
    }
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CCertificateList::OnMouseLeave()
{
    m_bTracking = FALSE;
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CCertificateList::OnLButtonDblClk()
{
    int nRow = HitTest();
    if (nRow < 0 || static_cast<size_t>(nRow) >= m_vtrItems.size()) return;
    ViewCertificate(m_hWnd, m_vtrItems[nRow].pCertContext);
}

void CCertificateList::OnMeasureItem(MEASUREITEMSTRUCT *pMeasure) const
{
    pMeasure->itemHeight = static_cast<UINT>(CertificateRowHeight(m_nDpi));
}

void CCertificateList::OnDrawItem(const DRAWITEMSTRUCT *pDraw)
{
    // An empty list still asks for its focus rectangle.
    if (pDraw->itemID == static_cast<UINT>(-1) || pDraw->itemID >= m_vtrItems.size()) return;
    const CERTIFICATE_LIST_ITEM &stItem = m_vtrItems[pDraw->itemID];
    const int nWidth = pDraw->rcItem.right - pDraw->rcItem.left;
    const int nHeight = pDraw->rcItem.bottom - pDraw->rcItem.top;
    const bool bHovered = static_cast<int>(pDraw->itemID) == HitTest();

    // Drawn off-screen so that moving the mouse does not flicker.
    HDC hMemDC = CreateCompatibleDC(pDraw->hDC);
    HBITMAP hBitmap = CreateCompatibleBitmap(pDraw->hDC, nWidth, nHeight);
    HGDIOBJ hOldBitmap = SelectObject(hMemDC, hBitmap);

    RECT rcRow = {0, 0, nWidth, nHeight};
    FillRect(hMemDC, &rcRow, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if ((pDraw->itemState & ODS_SELECTED) != 0 || bHovered)
        DrawRowBackground(hMemDC, nWidth, nHeight, (pDraw->itemState & ODS_SELECTED) != 0);
    DrawRowImages(hMemDC, stItem);
    DrawRowTexts(hMemDC, nWidth, stItem);

    BitBlt(pDraw->hDC, pDraw->rcItem.left, pDraw->rcItem.top, nWidth, nHeight, hMemDC, 0, 0, SRCCOPY);
    SelectObject(hMemDC, hOldBitmap);
    DeleteObject(hBitmap);
    DeleteDC(hMemDC);

    if (bHovered) ShowToolTipText(stItem.strCommonName);
}

void CCertificateList::DrawRowBackground(HDC hDC, int nWidth, int nHeight, bool bSelected) const
{
    const RowColours &colours = bSelected ? kSelectedRow : kHoveredRow;
    TRIVERTEX vertices[2] = {Vertex(1, 1, colours.clrTop), Vertex(nWidth - 1, nHeight - 1, colours.clrBottom)};
    GRADIENT_RECT stRect = {0, 1};
    GradientFill(hDC, vertices, 2, &stRect, 1, GRADIENT_FILL_RECT_V);

    HPEN hPen = CreatePen(PS_SOLID, 1, colours.clrBorder);
    HGDIOBJ hOldPen = SelectObject(hDC, hPen);
    HGDIOBJ hOldBrush = SelectObject(hDC, GetStockObject(NULL_BRUSH));
    RoundRect(hDC, 0, 0, nWidth, nHeight, 6, 6);
    SelectObject(hDC, hOldBrush);
    SelectObject(hDC, hOldPen);
    DeleteObject(hPen);
}

void CCertificateList::DrawRowImages(HDC hDC, const CERTIFICATE_LIST_ITEM &stItem) const
{
    Gdiplus::Graphics graphics(hDC);
    Gdiplus::Image *pIcon = stItem.bHardwareKey ? m_pKeyCertImage : m_pSystemCertImage;
    if (pIcon != nullptr) {
        const int nIconPos = ScaleForDpi(16, m_nDpi) - 2;
        const int nIconSide = ScaleForDpi(48, m_nDpi);
        graphics.DrawImage(pIcon, nIconPos, nIconPos, nIconSide, nIconSide);
    }
    if (m_pFrameImage != nullptr) {
        const int nFrameWidth = static_cast<int>(m_pFrameImage->GetWidth());
        const int nFrameHeight = static_cast<int>(m_pFrameImage->GetHeight());
        const int nFramePos = ScaleForDpi((CERTIFICATE_ROW_HEIGHT - nFrameHeight) / 2, m_nDpi);
        graphics.DrawImage(m_pFrameImage, nFramePos, nFramePos, ScaleForDpi(nFrameWidth, m_nDpi),
                           ScaleForDpi(nFrameHeight, m_nDpi));
    }
}

void CCertificateList::DrawRowTexts(HDC hDC, int nRight, const CERTIFICATE_LIST_ITEM &stItem) const
{
    const wchar_t *pwszFace = m_bNewStyle ? L"Microsoft YaHei" : L"Arial";
    int nNameWidth = ScaleForDpi(8, m_nDpi);
    int nNameHeight = ScaleForDpi(m_bNewStyle ? 20 : 16, m_nDpi);
    int nLineWidth = ScaleForDpi(6, m_nDpi);
    int nLineHeight = ScaleForDpi(m_bNewStyle ? 18 : 14, m_nDpi);
    // Scaled fonts come out too large above 96 DPI.
    if (m_nDpi > 96) {
        nNameWidth = nNameWidth * 95 / 100;
        nLineWidth = nLineWidth * 95 / 100;
        nNameHeight = nNameHeight * 90 / 100;
        nLineHeight = nLineHeight * 90 / 100;
    }
    const int nLeft = ScaleForDpi(80, m_nDpi);
    const int nLimit = nRight - ScaleForDpi(15, m_nDpi);
    const COLORREF clrText = RGB(0, 0, 0);
    DrawTextAt(pwszFace, hDC, stItem.strCommonName.c_str(), nLeft, ScaleForDpi(5, m_nDpi), nLimit, nNameWidth,
               nNameHeight, clrText);
    const struct {
        const std::wstring &strText;
        int nTop;
    } lines[] = {{stItem.strIssuer, 25}, {stItem.strSerialNumber, 40}, {stItem.strValidity, 55}};
    for (const auto &line : lines)
        DrawTextAt(pwszFace, hDC, line.strText.c_str(), nLeft, ScaleForDpi(line.nTop, m_nDpi), nLimit, nLineWidth,
                   nLineHeight, clrText);
}

void CCertificateList::ShowToolTipText(const std::wstring &strText)
{
    if (m_hToolTip == nullptr) return;
    wchar_t wszCurrent[kToolTipTextCch] = {};
    TTTOOLINFOW stTool = {};
    stTool.cbSize = TTTOOLINFOW_V2_SIZE;
    stTool.hwnd = GetParent(m_hWnd);
    stTool.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
    stTool.lpszText = wszCurrent;
    SendMessageW(m_hToolTip, TTM_GETTEXTW, kToolTipTextCch, reinterpret_cast<LPARAM>(&stTool));
    if (strText == wszCurrent) return;
    stTool.lpszText = const_cast<LPWSTR>(strText.c_str());
    SendMessageW(m_hToolTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&stTool));
}
