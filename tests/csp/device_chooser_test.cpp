// The device chooser shown for real with two simulated tokens and worked
// from a driver thread: it finds the dialog, reads its texts, picks an
// entry, presses a button and keeps a screenshot.
#include "ProviderFixture.h"

#include "MessageTable.h"
#include "SelectDevDlg.h"
#include "UiDriver.h"
#include "resource.h"

#include <cstdio>
#include <functional>
#include <string>

namespace {

using tokentest::AddToken;

struct Seen {
    std::wstring title, okText, cancelText, listLabel, serialLabel, firstSerial, chosenSerial;
    std::vector<std::wstring> labels;
    LONG_PTR exStyle = 0;
    bool found = false;
};

std::wstring TextOf(HWND window)
{
    wchar_t text[256] = {};
    SendMessageW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    return text;
}

bool IsChooser(HWND window)
{
    if (!IsDialog(window)) return false;
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    return lstrcmpW(title, GetMessageTable()->texts[MSG_SELECT_DIALOG]) == 0;
}

HWND WaitForChooser()
{
    // Only ours: another test program may show its own chooser.
    SetTargetProcess(GetCurrentProcessId());
    return WaitFor(IsChooser, 10000);
}

struct DriverPlan {
    int pick;   // combo index to select, or -1 for none
    int button; // IDOK or IDCANCEL
    const wchar_t* shot;
};

DWORD WINAPI Drive(LPVOID parameter)
{
    auto* job = static_cast<std::pair<DriverPlan, Seen>*>(parameter);
    const DriverPlan& plan = job->first;
    Seen& seen = job->second;
    HWND dialog = WaitForChooser();
    if (!dialog) return 1;
    seen.found = true;
    seen.title = TextOf(dialog);
    seen.exStyle = GetWindowLongPtrW(dialog, GWL_EXSTYLE);
    seen.okText = TextOf(GetDlgItem(dialog, IDOK));
    seen.cancelText = TextOf(GetDlgItem(dialog, IDCANCEL));
    seen.listLabel = TextOf(GetDlgItem(dialog, IDC_DEVICE_LIST_LABEL));
    seen.serialLabel = TextOf(GetDlgItem(dialog, IDC_DEVICE_SERIAL_LABEL));
    HWND combo = GetDlgItem(dialog, IDC_DEVICE_LIST);
    HWND serial = GetDlgItem(dialog, IDC_DEVICE_SERIAL);
    seen.firstSerial = TextOf(serial);
    LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t label[128] = {};
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(label));
        seen.labels.push_back(label);
    }
    SendMessageW(combo, CB_SETCURSEL, plan.pick, 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_DEVICE_LIST, CBN_SELENDOK), reinterpret_cast<LPARAM>(combo));
    seen.chosenSerial = TextOf(serial);
    SaveWindow(dialog, ScreenshotPath(plan.shot));
    SendMessageW(GetDlgItem(dialog, plan.button), BM_CLICK, 0, 0);
    return 0;
}

class DeviceChooser : public csptest::ProviderFixture {
protected:
    void SetUp() override
    {
        SKIP_OR_FAIL_WITHOUT_DISPLAY();
        ProviderFixture::SetUp();
        tokensim::TokenOptions one, two;
        one.label = "Token One";
        two.label = "Token Two";
        AddToken("SN-ONE", one);
        AddToken("SN-TWO", two);
    }
    DWORD Run(const DriverPlan& plan, char* device)
    {
        std::pair<DriverPlan, Seen> job {plan, {}};
        HANDLE driver = CreateThread(nullptr, 0, Drive, &job, 0, nullptr);
        DWORD result = ChooseTokenDevice(device);
        WaitForSingleObject(driver, 30000);
        CloseHandle(driver);
        m_seen = job.second;
        return result;
    }
    Seen m_seen;
};

TEST_F(DeviceChooser, SecondTokenChosenFromTheList)
{
    char device[devicelib::UK_NAME_LEN] = {};
    ASSERT_EQ(Run({1, IDOK, L"device_chooser.bmp"}, device), 0u);
    ASSERT_TRUE(m_seen.found);
    const wchar_t* const* texts = GetMessageTable()->texts;
    EXPECT_EQ(m_seen.title, texts[MSG_SELECT_DIALOG]);
    EXPECT_EQ(m_seen.okText, texts[MSG_OK]);
    EXPECT_EQ(m_seen.cancelText, texts[MSG_CANCEL]);
    EXPECT_EQ(m_seen.listLabel, texts[MSG_SELECT_UKEY]);
    EXPECT_EQ(m_seen.serialLabel, texts[MSG_UKEY_SN]);
    EXPECT_TRUE(m_seen.exStyle & WS_EX_LAYERED);
    EXPECT_TRUE(m_seen.exStyle & WS_EX_TOPMOST);
    EXPECT_EQ(m_seen.labels, (std::vector<std::wstring> {L"Token One", L"Token Two"}));
    EXPECT_EQ(m_seen.firstSerial, L"SN-ONE");
    EXPECT_EQ(m_seen.chosenSerial, L"SN-TWO");
    EXPECT_STREQ(device, tokensim::DeviceNameFor("SN-TWO").c_str());
}

TEST_F(DeviceChooser, CancelLeavesTheBufferAlone)
{
    char device[devicelib::UK_NAME_LEN] = "untouched";
    EXPECT_EQ(Run({1, IDCANCEL, L"device_chooser_cancel.bmp"}, device), 1223u);
    EXPECT_TRUE(m_seen.found);
    EXPECT_STREQ(device, "untouched");
}

TEST_F(DeviceChooser, OkWithNothingSelectedIsCancel)
{
    char device[devicelib::UK_NAME_LEN] = "untouched";
    EXPECT_EQ(Run({-1, IDOK, L"device_chooser_none.bmp"}, device), 1223u);
    EXPECT_STREQ(device, "untouched");
}

TEST_F(DeviceChooser, UnreadableTokenIsLeftOut)
{
    tokentest::EditStore([](tokensim::State& s) { s.faults.push_back({8, devicelib::UK_SW_FILE_NOT_FOUND, 1}); });
    char device[devicelib::UK_NAME_LEN] = {};
    ASSERT_EQ(Run({0, IDOK, L"device_chooser_short.bmp"}, device), 0u);
    EXPECT_EQ(m_seen.labels, (std::vector<std::wstring> {L"Token Two"}));
    EXPECT_STREQ(device, tokensim::DeviceNameFor("SN-TWO").c_str());
}

} // namespace
