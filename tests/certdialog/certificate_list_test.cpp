#include "CertificateListCtrl.h"

#include <gtest/gtest.h>

namespace {

// Reflects the list's measure requests back to it, as the dialog does.
LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MEASUREITEM) {
        auto *measure = reinterpret_cast<MEASUREITEMSTRUCT *>(lParam);
        return SendMessageW(GetDlgItem(window, static_cast<int>(measure->CtlID)), REFLECTED_MESSAGE_BASE + message,
                            wParam, lParam);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class CertificateListRows : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = ParentProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"CertificateListTestParent";
        RegisterClassW(&windowClass);
        m_parent = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, -3000, -3000, 400, 600, nullptr,
                                   nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(nullptr, m_parent);
        HWND list =
            CreateWindowExW(0, L"ListBox", L"", WS_CHILD | LBS_OWNERDRAWVARIABLE | LBS_NOINTEGRALHEIGHT | WS_VSCROLL, 0,
                            0, 380, 500, m_parent, reinterpret_cast<HMENU>(1001), windowClass.hInstance, nullptr);
        ASSERT_TRUE(m_list.SubclassWindow(list));
    }
    void TearDown() override
    {
        if (m_parent) DestroyWindow(m_parent);
    }

    void AddRows(int count)
    {
        for (int i = 0; i < count; ++i) SendMessageW(m_list.GetHwnd(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L""));
    }
    int RowHeight(int row) const { return static_cast<int>(SendMessageW(m_list.GetHwnd(), LB_GETITEMHEIGHT, row, 0)); }

    HWND m_parent = nullptr;
    CCertificateList m_list;
};

TEST_F(CertificateListRows, RowsAre80PixelsAt96Dpi)
{
    AddRows(2);
    EXPECT_EQ(80, RowHeight(0));
    EXPECT_EQ(80, RowHeight(1));
}

TEST_F(CertificateListRows, NewRowsAndExistingRowsFollowTheDpi)
{
    m_list.SetDPI(144);
    AddRows(2);
    EXPECT_EQ(120, RowHeight(0));
    EXPECT_EQ(120, RowHeight(1));
    m_list.SetDPI(120);
    EXPECT_EQ(100, RowHeight(0));
    EXPECT_EQ(100, RowHeight(1));
    // A list box item holds at most 255 pixels: above 306 DPI rows stop
    // growing, and the dialog sizes the list with the same height.
    m_list.SetDPI(400);
    AddRows(1);
    EXPECT_EQ(255, CertificateRowHeight(400));
    for (int row : {0, 2}) EXPECT_EQ(255, RowHeight(row)) << row;
}

TEST_F(CertificateListRows, HitTestFindsTheRowUnderThePoint)
{
    AddRows(2);
    EXPECT_EQ(0, m_list.RowAt(POINT {10, 5}));
    EXPECT_EQ(1, m_list.RowAt(POINT {10, 85}));
    EXPECT_EQ(-1, m_list.RowAt(POINT {10, 170}));
    // The list lies off the screen: the cursor cannot be over one of its rows.
    EXPECT_EQ(-1, m_list.HitTest());
}

} // namespace
