// DPI-aware display helpers of the selection dialog: window DPI, metrics
// at a DPI, monitor height, GDI+ images from PNG bytes and drawn text.
#pragma once

#include <windows.h>

namespace Gdiplus {
class Image;
}

// Lengths are given at 96 DPI and scaled in integer arithmetic.
inline int ScaleForDpi(int nValue, int nDpi)
{
    return nValue * nDpi / 96;
}

// 96 when nothing better is known.
int GetWindowDPI(HWND hWnd);

// The metric at that DPI where the platform can tell, else unscaled.
int GetSystemMetricsWithDpi(int nIndex, int nDpi);

// The whole monitor that holds the window (the primary one for a null
// window), in virtual-screen coordinates, and its height in pixels.
RECT GetMonitorRect(HWND hWnd);
int GetMonitorHeight(HWND hWnd);

// The top of a window of that height centred vertically on the monitor:
// monitors above or below the primary one have their own top.
inline int CentredTop(const RECT &rcMonitor, int nHeight)
{
    return rcMonitor.top + (rcMonitor.bottom - rcMonitor.top - nHeight) / 2;
}

// The image is decoded before the function returns and owns its pixels;
// the caller deletes it. Needs a running GDI+.
HRESULT _LoadImageFromData(DWORD dwImageDataSize, const BYTE *pImageData, Gdiplus::Image **ppImage);

// A resource of type "PNG" as a GDI+ image.
HRESULT LoadImageFromResource(HINSTANCE hInstance, UINT nResourceId, Gdiplus::Image **ppImage);

// One text from (nLeft, nTop), cut at nRightLimit when that is above 0.
void DrawTextAt(LPCWSTR pwszFaceName, HDC hDC, LPCWSTR pwszText, int nLeft, int nTop, int nRightLimit, int nCharWidth,
                int nCharHeight, COLORREF clrText);
