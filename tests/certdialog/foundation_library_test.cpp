#include "FoundationLibrary.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <objidl.h>
#include <gdiplus.h>

#include <memory>

namespace {

class DisplayFunctions : public ::testing::Test {
protected:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::Ok, Gdiplus::GdiplusStartup(&m_token, &input, nullptr));
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(m_token); }

    ULONG_PTR m_token = 0;
};

TEST_F(DisplayFunctions, NullWindowIs96Dpi)
{
    EXPECT_EQ(96, GetWindowDPI(nullptr));
}

TEST_F(DisplayFunctions, MetricsAt96DpiAreTheSystemMetrics)
{
    for (int index : {SM_CYDLGFRAME, SM_CXICON, SM_CYSMICON})
        EXPECT_EQ(GetSystemMetrics(index), GetSystemMetricsWithDpi(index, 96)) << index;
}

TEST_F(DisplayFunctions, MonitorHeightIsTheWholeScreen)
{
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), GetMonitorHeight(nullptr));
}

// A dialog is centred on its own monitor, wherever that lies in the
// virtual screen: below the primary one, or above it.
TEST_F(DisplayFunctions, CentringKeepsToTheMonitor)
{
    EXPECT_EQ(1320, CentredTop(RECT {0, 1080, 1920, 2160}, 600));
    EXPECT_EQ(-724, CentredTop(RECT {0, -1024, 1280, 0}, 424));
    EXPECT_EQ(212, CentredTop(RECT {1280, 0, 2560, 1024}, 600));
}

// The images must draw after the function has freed the PNG bytes' memory.
TEST_F(DisplayFunctions, RowImagesLoadWithTheirSizesAndTransparency)
{
    struct {
        UINT id;
        UINT side;
        int opaqueX, opaqueY, clearX, clearY;
    } const images[] = {{IDP_SYSTEM_CERTIFICATE, 128, 64, 50, 2, 2},
                        {IDP_KEY_CERTIFICATE, 128, 80, 90, 2, 2},
                        {IDP_CERTIFICATE_FRAME, 62, 2, 31, 31, 31}};
    for (const auto &image : images) {
        Gdiplus::Image *loaded = nullptr;
        ASSERT_EQ(S_OK, LoadImageFromResource(GetModuleHandleW(nullptr), image.id, &loaded)) << image.id;
        std::unique_ptr<Gdiplus::Image> owner(loaded);
        EXPECT_EQ(image.side, loaded->GetWidth());
        EXPECT_EQ(image.side, loaded->GetHeight());

        Gdiplus::Bitmap canvas(static_cast<INT>(image.side), static_cast<INT>(image.side), PixelFormat32bppARGB);
        {
            Gdiplus::Graphics graphics(&canvas);
            graphics.Clear(Gdiplus::Color(0, 0, 0, 0));
            ASSERT_EQ(Gdiplus::Ok,
                      graphics.DrawImage(loaded, 0, 0, static_cast<INT>(image.side), static_cast<INT>(image.side)));
        }
        Gdiplus::Color opaque, clear;
        canvas.GetPixel(image.opaqueX, image.opaqueY, &opaque);
        canvas.GetPixel(image.clearX, image.clearY, &clear);
        EXPECT_EQ(255, opaque.GetAlpha()) << image.id;
        EXPECT_EQ(0, clear.GetAlpha()) << image.id;
    }
}

TEST_F(DisplayFunctions, BadImageSourcesFailWithoutImage)
{
    Gdiplus::Image *image = nullptr;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND),
              LoadImageFromResource(GetModuleHandleW(nullptr), 999, &image));
    EXPECT_EQ(nullptr, image);

    const BYTE notPng[16] = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'};
    EXPECT_EQ(E_INVALIDARG, _LoadImageFromData(0, notPng, &image));
    EXPECT_EQ(E_INVALIDARG, _LoadImageFromData(sizeof notPng, nullptr, &image));
    EXPECT_EQ(E_POINTER, _LoadImageFromData(sizeof notPng, notPng, &image));
    EXPECT_EQ(nullptr, image);
}

// Dark pixels of a white 400 x 40 canvas after drawing a long text from
// x = 10, split at x = 100.
struct InkSplit {
    int before = 0;
    int after = 0;
    int right = -1; // the rightmost inked column
};

InkSplit DrawnInk(const wchar_t *text, int rightLimit)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 400;
    info.bmiHeader.biHeight = -40;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, 400, 40};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DrawTextAt(L"Arial", dc, text, 10, 5, rightLimit, 8, 16, RGB(0, 0, 0));
    GdiFlush();
    InkSplit ink;
    const DWORD *pixels = static_cast<const DWORD *>(bits);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 400; ++x)
            if ((pixels[y * 400 + x] & 0xFF) < 0x80) {
                ++(x < 100 ? ink.before : ink.after);
                ink.right = x > ink.right ? x : ink.right;
            }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return ink;
}

const wchar_t kLongText[] = L"WWWWWWWWWWWWWWWWWWWWWWWWWWWWWW";

TEST_F(DisplayFunctions, TextIsCutAtTheRightLimitOnlyWhenOneIsGiven)
{
    InkSplit cut = DrawnInk(kLongText, 100);
    EXPECT_GT(cut.before, 50);
    EXPECT_EQ(0, cut.after);
    InkSplit whole = DrawnInk(kLongText, 0);
    EXPECT_GT(whole.after, 50);
}

// A name such as "R&D Dept" is drawn with its '&', not as "RD Dept" with
// an underlined D.
TEST_F(DisplayFunctions, AmpersandIsDrawnAsItself)
{
    EXPECT_GT(DrawnInk(L"R&D Dept", 0).right, DrawnInk(L"RD Dept", 0).right + 3);
}

} // namespace
