#include "FoundationLibrary.h"

#include "ErrorCode.h"
#include "PlatformStatus.h"
#include "TraceHelper.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cwchar>

namespace {

typedef UINT(WINAPI *GetDpiForWindowFn)(HWND);
typedef int(WINAPI *GetSystemMetricsForDpiFn)(int, UINT);

const int kDefaultDpi = 96;

// Frees the library on every road out.
class User32Library {
public:
    User32Library() : m_hModule(LoadLibraryW(L"User32.dll")) { }
    ~User32Library()
    {
        if (m_hModule != nullptr) FreeLibrary(m_hModule);
    }
    User32Library(const User32Library &) = delete;
    User32Library &operator=(const User32Library &) = delete;

    template <typename Fn>
    Fn Find(const char *pszName) const
    {
        if (m_hModule == nullptr) return nullptr;
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(m_hModule, pszName)));
    }

private:
    HMODULE m_hModule;
};

// GDI+ may read a stream-made image's bytes again at any later draw; a
// copy drawn at once owns its pixels, so the stream's memory can go.
Gdiplus::Image *DecodedCopy(Gdiplus::Image *pSource)
{
    UINT nWidth = pSource->GetWidth();
    UINT nHeight = pSource->GetHeight();
    if (pSource->GetLastStatus() != Gdiplus::Ok || nWidth == 0 || nHeight == 0) return nullptr;
    Gdiplus::Bitmap *pCopy =
        new Gdiplus::Bitmap(static_cast<INT>(nWidth), static_cast<INT>(nHeight), PixelFormat32bppARGB);
    if (pCopy->GetLastStatus() == Gdiplus::Ok) {
        Gdiplus::Graphics graphics(pCopy);
        graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
        if (graphics.DrawImage(pSource, 0, 0, static_cast<INT>(nWidth), static_cast<INT>(nHeight)) == Gdiplus::Ok)
            return pCopy;
    }
    delete pCopy;
    return nullptr;
}

} // namespace

int GetWindowDPI(HWND hWnd)
{
    TRACE_FUNCTION(L"GetWindowDPI");
    if (hWnd == nullptr) {
        TRACE_FAILED(L"Check hWnd", L"hWnd == NULL", E_INVALIDARG);
        return kDefaultDpi;
    }
    User32Library user32;
    if (GetDpiForWindowFn pGetDpiForWindow = user32.Find<GetDpiForWindowFn>("GetDpiForWindow"))
        return static_cast<int>(pGetDpiForWindow(hWnd));

    HDC hDC = GetDC(hWnd);
    if (hDC == nullptr) {
        TRACE_FAILED(L"Check hDC", L"hDC == NULL", FailedCallStatus(LastErrorKind::WithOwnCodes));
        return kDefaultDpi;
    }
    int nDpi = GetDeviceCaps(hDC, LOGPIXELSX);
    ReleaseDC(hWnd, hDC);
    return nDpi;
}

int GetSystemMetricsWithDpi(int nIndex, int nDpi)
{
    TRACE_FUNCTION(L"GetSystemMetricsWithDpi");
    User32Library user32;
    int nValue = 0;
    if (GetSystemMetricsForDpiFn pForDpi = user32.Find<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi"))
        nValue = pForDpi(nIndex, static_cast<UINT>(nDpi));
    if (nValue != 0) return nValue;

    nValue = GetSystemMetrics(nIndex);
    if (nValue == 0) TRACE_FAILED(L"GetSystemMetrics", L"0 == nValue", FailedCallStatus(LastErrorKind::WithOwnCodes));
    return nValue;
}

RECT GetMonitorRect(HWND hWnd)
{
    HMONITOR hMonitor = hWnd != nullptr ? MonitorFromWindow(hWnd, MONITOR_DEFAULTTONEAREST)
                                        : MonitorFromWindow(nullptr, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO stInfo = {};
    stInfo.cbSize = sizeof(stInfo);
    if (!GetMonitorInfoW(hMonitor, &stInfo))
        return RECT {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return stInfo.rcMonitor;
}

int GetMonitorHeight(HWND hWnd)
{
    const RECT rcMonitor = GetMonitorRect(hWnd);
    return rcMonitor.bottom - rcMonitor.top;
}

HRESULT _LoadImageFromData(DWORD dwImageDataSize, const BYTE *pImageData, Gdiplus::Image **ppImage)
{
    TRACE_FUNCTION(L"_LoadImageFromData");
    if (pImageData == nullptr || dwImageDataSize == 0 || ppImage == nullptr) {
        TRACE_FAILED(L"Check parameter", L"pImageData == NULL || dwImageDataSize == 0", E_INVALIDARG);
        return E_INVALIDARG;
    }
    HGLOBAL hMemoryObject = GlobalAlloc(GMEM_FIXED, dwImageDataSize);
    if (hMemoryObject == nullptr) {
        HRESULT hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
        TRACE_FAILED(L"GlobalAlloc", L"hMemoryObject == NULL", hResult);
        return hResult;
    }
    void *pMemoryBlock = GlobalLock(hMemoryObject);
    if (pMemoryBlock == nullptr) {
        HRESULT hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
        TRACE_FAILED(L"GlobalLock", L"pMemoryBlock == NULL", hResult);
        GlobalFree(hMemoryObject);
        return hResult;
    }
    memcpy(pMemoryBlock, pImageData, dwImageDataSize);

    IStream *pStream = nullptr;
    HRESULT hResult = CreateStreamOnHGlobal(hMemoryObject, FALSE, &pStream);
    if (FAILED(hResult)) {
        TRACE_FAILED(L"CreateStreamOnHGlobal", L"FAILED(hResult)", hResult);
    } else {
        Gdiplus::Image *pStreamImage = Gdiplus::Image::FromStream(pStream);
        *ppImage = pStreamImage != nullptr ? DecodedCopy(pStreamImage) : nullptr;
        delete pStreamImage;
        if (*ppImage == nullptr) {
            hResult = E_POINTER;
            TRACE_FAILED(L"FromStream", L"*ppImage == NULL", hResult);
        }
        pStream->Release();
    }
    GlobalUnlock(hMemoryObject);
    GlobalFree(hMemoryObject);
    return hResult;
}

HRESULT LoadImageFromResource(HINSTANCE hInstance, UINT nResourceId, Gdiplus::Image **ppImage)
{
    TRACE_FUNCTION(L"LoadImageFromResource");
    HRSRC hResource = FindResourceW(hInstance, MAKEINTRESOURCEW(nResourceId), L"PNG");
    if (hResource == nullptr) {
        HRESULT hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
        TRACE_FAILED(L"FindResource", L"hResource == NULL", hResult);
        return hResult;
    }
    DWORD dwResSize = SizeofResource(hInstance, hResource);
    if (dwResSize == 0) {
        HRESULT hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
        TRACE_FAILED(L"SizeofResource", L"dwResSize == 0", hResult);
        return hResult;
    }
    HGLOBAL hResData = LoadResource(hInstance, hResource);
    const void *lpResData = hResData != nullptr ? LockResource(hResData) : nullptr;
    if (lpResData == nullptr) {
        HRESULT hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
        TRACE_FAILED(L"LoadResource", L"lpResData == NULL", hResult);
        return hResult;
    }
    HRESULT hResult = _LoadImageFromData(dwResSize, static_cast<const BYTE *>(lpResData), ppImage);
    if (FAILED(hResult)) TRACE_FAILED(L"_LoadImageFromData", L"FAILED(hResult)", hResult);
    FreeResource(hResData);
    return hResult;
}

void DrawTextAt(LPCWSTR pwszFaceName, HDC hDC, LPCWSTR pwszText, int nLeft, int nTop, int nRightLimit, int nCharWidth,
                int nCharHeight, COLORREF clrText)
{
    LOGFONTW stFont = {};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(stFont), &stFont);
    stFont.lfWidth = nCharWidth;
    stFont.lfHeight = nCharHeight;
    stFont.lfWeight = FW_NORMAL;
    if (pwszFaceName != nullptr) {
        wcsncpy(stFont.lfFaceName, pwszFaceName, LF_FACESIZE - 1);
        stFont.lfFaceName[LF_FACESIZE - 1] = L'\0';
    }
    HFONT hFont = CreateFontIndirectW(&stFont);
    HGDIOBJ hOldFont = SelectObject(hDC, hFont);
    SetTextColor(hDC, clrText);
    SetBkMode(hDC, TRANSPARENT);

    RECT rcText = {0, 0, 0, 0};
    // One line, and '&' is a character like any other, not a mnemonic.
    const UINT uFormat = DT_NOPREFIX | DT_SINGLELINE;
    DrawTextW(hDC, pwszText, -1, &rcText, DT_CALCRECT | uFormat);
    OffsetRect(&rcText, nLeft, nTop);
    if (nRightLimit > 0 && rcText.right >= nRightLimit) rcText.right = nRightLimit;
    DrawTextW(hDC, pwszText, -1, &rcText, uFormat);

    SelectObject(hDC, hOldFont);
    DeleteObject(hFont);
}
