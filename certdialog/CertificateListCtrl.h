// The owner-drawn list box of the selection dialog: one 80-pixel row (at
// 96 DPI) per candidate with an icon, four lines of text, highlights for
// the selected and the hovered row, and a tooltip with the common name.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace Gdiplus {
class Image;
}

// One row of the list.
struct CERTIFICATE_LIST_ITEM {
    PCCERT_CONTEXT pCertContext = nullptr; // shared with the dialog's candidates
    std::wstring strCommonName;
    std::wstring strIssuer;
    std::wstring strSerialNumber;
    std::wstring strValidity;
    BOOL bHardwareKey = FALSE;
};

// The dialog sends a control its own WM_MEASUREITEM and WM_DRAWITEM as
// this base plus the message.
const UINT REFLECTED_MESSAGE_BASE = WM_USER + 0x1C00;

// Row height at 96 DPI.
const int CERTIFICATE_ROW_HEIGHT = 80;

// A row's height in pixels at a DPI: scaled, but no more than the 255
// pixels a list box item can have (reached above 306 DPI). The list is
// sized with the same value.
int CertificateRowHeight(int nDpi);

class CCertificateList {
public:
    CCertificateList();
    ~CCertificateList();
    CCertificateList(const CCertificateList &) = delete;
    CCertificateList &operator=(const CCertificateList &) = delete;

    // Takes the list box's messages first; the list box handles the rest.
    BOOL SubclassWindow(HWND hWnd);
    HWND GetHwnd() const { return m_hWnd; }

    HRESULT Initialize(HINSTANCE hInstance, BOOL bNewStyle, std::vector<CERTIFICATE_LIST_ITEM> vtrItems);
    void SetDPI(int nDpi);
    // Row under the cursor, or -1.
    int HitTest() const;
    // Row at a point in the list's client coordinates, or -1.
    int RowAt(POINT ptClient) const;
    // The images are GDI+ objects: released before GDI+ is shut down.
    void ReleaseImages();

private:
    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                         DWORD_PTR dwRefData);
    // TRUE when the message is handled here and not passed on.
    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT &lResult);
    void OnMouseMove(UINT uMsg, WPARAM wParam, LPARAM lParam);
    void OnMouseLeave();
    void OnLButtonDblClk();
    void OnMeasureItem(MEASUREITEMSTRUCT *pMeasure) const;
    void OnDrawItem(const DRAWITEMSTRUCT *pDraw);
    void DrawRowBackground(HDC hDC, int nWidth, int nHeight, bool bSelected) const;
    void DrawRowImages(HDC hDC, const CERTIFICATE_LIST_ITEM &stItem) const;
    void DrawRowTexts(HDC hDC, int nRight, const CERTIFICATE_LIST_ITEM &stItem) const;
    void CreateToolTip(HINSTANCE hInstance);
    void ShowToolTipText(const std::wstring &strText);

    HWND m_hWnd = nullptr;
    BOOL m_bNewStyle = FALSE;
    int m_nDpi = 96;
    Gdiplus::Image *m_pSystemCertImage = nullptr;
    Gdiplus::Image *m_pKeyCertImage = nullptr;
    Gdiplus::Image *m_pFrameImage = nullptr;
    std::vector<CERTIFICATE_LIST_ITEM> m_vtrItems;
    HWND m_hToolTip = nullptr;
    BOOL m_bTracking = FALSE;
};
