#include "PngImage.h"

#include <objidl.h>
#include <shlwapi.h>
#include <gdiplus.h>

namespace {

using namespace Gdiplus;

GpBitmap* AsBitmap(void* p)
{
    return static_cast<GpBitmap*>(p);
}

} // namespace

CGdiPlusSession::CGdiPlusSession()
{
    GdiplusStartupInput input;
    if (GdiplusStartup(&m_token, &input, nullptr) != Ok) m_token = 0;
}

CGdiPlusSession::~CGdiPlusSession()
{
    if (m_token) GdiplusShutdown(m_token);
}

CPngImage::~CPngImage()
{
    if (m_bitmap) DllExports::GdipDisposeImage(AsBitmap(m_bitmap));
}

bool CPngImage::Load(HINSTANCE module, UINT id)
{
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id), "PNG");
    if (!info) return false;
    HGLOBAL data = LoadResource(module, info);
    const void* bytes = data ? LockResource(data) : nullptr;
    if (!bytes) return false;
    // The stream holds its own copy, so the image outlives nothing it needs.
    IStream* stream = SHCreateMemStream(static_cast<const BYTE*>(bytes), SizeofResource(module, info));
    if (!stream) return false;
    GpBitmap* bitmap = nullptr;
    Status status = DllExports::GdipCreateBitmapFromStream(stream, &bitmap);
    stream->Release();
    if (status != Ok) return false;
    if (m_bitmap) DllExports::GdipDisposeImage(AsBitmap(m_bitmap));
    m_bitmap = bitmap;
    return true;
}

void CPngImage::Draw(HDC dc, const RECT& rect) const
{
    if (!m_bitmap) return;
    GpGraphics* graphics = nullptr;
    if (DllExports::GdipCreateFromHDC(dc, &graphics) != Ok) return;
    DllExports::GdipDrawImageRectI(graphics, AsBitmap(m_bitmap), rect.left, rect.top, rect.right - rect.left,
                                   rect.bottom - rect.top);
    DllExports::GdipDeleteGraphics(graphics);
}

HBITMAP CPngImage::CreateBitmap(COLORREF background) const
{
    if (!m_bitmap) return nullptr;
    ARGB argb = 0xFF000000u | (GetRValue(background) << 16) | (GetGValue(background) << 8) | GetBValue(background);
    HBITMAP result = nullptr;
    if (DllExports::GdipCreateHBITMAPFromBitmap(AsBitmap(m_bitmap), &result, argb) != Ok) return nullptr;
    return result;
}
