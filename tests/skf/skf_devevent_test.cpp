// Waits for token arrival and removal through the library's exports.
// Wine brings no device-interface notifications for the simulated token, so
// the tests send the monitor's hidden window the WM_DEVICECHANGE messages
// that a real arrival or removal would bring.
#include "MonitorWindow.h"
#include "SkfDevEventExports.h"
#include "SkfMoreExports.h"

#include <dbt.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>

namespace {

using namespace skftest;
using namespace std::chrono_literals;

constexpr ULONG kCancel = 0, kInsert = 1, kRemove = 2;

struct WaitResult {
    ULONG rc = 0xDEAD;
    ULONG event = 0xDEAD;
    ULONG nameLen = 0;
    std::string name;
};

// The record a device-interface notification carries, its name inline.
void SendDeviceChange(HWND window, WPARAM change, const std::string& name)
{
    std::vector<BYTE> record(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + name.size() * sizeof(wchar_t));
    auto* device = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(record.data());
    device->dbcc_size = static_cast<DWORD>(record.size());
    device->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    for (std::size_t i = 0; i < name.size(); ++i) device->dbcc_name[i] = static_cast<wchar_t>(name[i]);
    device->dbcc_name[name.size()] = L'\0';
    SendMessageW(window, WM_DEVICECHANGE, change, reinterpret_cast<LPARAM>(device));
}

class DeviceEvents : public SkfTest {
protected:
    void SetUp() override
    {
        SkfTest::SetUp();
        ASSERT_TRUE(Wait && Cancel);
    }
    void TearDown() override
    {
        Cancel();
        if (m_waiter.valid()) m_waiter.wait();
        SkfTest::TearDown();
    }
    void StartWaiting(ULONG room = 260)
    {
        m_waiter = std::async(std::launch::async, [this, room] {
            WaitResult r;
            char name[300];
            std::memset(name, 'x', sizeof name);
            r.nameLen = room;
            r.rc = Wait(name, &r.nameLen, &r.event);
            r.name.assign(name, sizeof name);
            return r;
        });
        m_window = FindMonitorWindow();
        ASSERT_NE(m_window, nullptr);
    }
    bool StillWaiting() { return m_waiter.wait_for(300ms) == std::future_status::timeout; }
    WaitResult Result()
    {
        EXPECT_EQ(m_waiter.wait_for(10s), std::future_status::ready);
        return m_waiter.get();
    }
    static std::string Terminated(const std::string& text) { return text.substr(0, text.find('\0')); }
    // The wait ended with this event for the token of this name.
    void ExpectEvent(ULONG event, const std::string& name)
    {
        WaitResult r = Result();
        EXPECT_EQ(r.rc, SAR_OK);
        EXPECT_EQ(r.event, event);
        EXPECT_EQ(Terminated(r.name), name);
        EXPECT_EQ(r.nameLen, name.size() + 1);
    }

    decltype(&SKF_WaitForDevEvent) Wait = SKF_EXPORT(SKF_WaitForDevEvent);
    decltype(&SKF_CancelWaitForDevEvent) Cancel = SKF_EXPORT(SKF_CancelWaitForDevEvent);
    std::future<WaitResult> m_waiter;
    HWND m_window = nullptr;
};

TEST_F(DeviceEvents, TokenPresentAtStartIsReportedOnlyWhenPulled)
{
    tokentest::AddToken(Serial(1));
    StartWaiting();
    EXPECT_TRUE(StillWaiting());
    SendDeviceChange(m_window, DBT_DEVICEREMOVECOMPLETE, NameOf(Serial(1)));
    ExpectEvent(kRemove, NameOf(Serial(1)));
}

TEST_F(DeviceEvents, ArrivalWakesTheWaiterWithTheName)
{
    tokensim::TokenOptions absent;
    absent.present = false;
    tokentest::AddToken(Serial(2), absent);
    StartWaiting();
    tokentest::EditStore([](tokensim::State& s) { ASSERT_EQ(tokensim::SetPresent(s, Serial(2), true), ""); });
    SendDeviceChange(m_window, DBT_DEVICEARRIVAL, NameOf(Serial(2)));
    ExpectEvent(kInsert, NameOf(Serial(2)));

    // Removed again: the arrival entered it in the table.
    StartWaiting();
    SendDeviceChange(m_window, DBT_DEVICEREMOVECOMPLETE, NameOf(Serial(2)));
    EXPECT_EQ(Result().event, kRemove);
}

TEST_F(DeviceEvents, ForeignDevicesAndUnknownRemovalsWakeNobody)
{
    StartWaiting();
    SendDeviceChange(m_window, DBT_DEVICEARRIVAL, "\\\\?\\usbstor#cdrom&ven_other&prod_disc#1&0#{53f56308}");
    SendDeviceChange(m_window, DBT_DEVICEREMOVECOMPLETE, NameOf(Serial(7)));
    SendMessageW(m_window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
    EXPECT_TRUE(StillWaiting());
    EXPECT_EQ(Cancel(), SAR_OK);
    WaitResult r = Result();
    EXPECT_EQ(r.rc, SAR_OK);
    EXPECT_EQ(r.event, kCancel);
    EXPECT_EQ(r.nameLen, 260u);
}

TEST_F(DeviceEvents, WaitAfterCancelStartsAFreshMonitor)
{
    StartWaiting();
    HWND first = m_window;
    ASSERT_EQ(Cancel(), SAR_OK);
    EXPECT_EQ(Result().event, kCancel);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(Cancel(), SAR_OK);

    tokentest::AddToken(Serial(3));
    StartWaiting();
    SendDeviceChange(m_window, DBT_DEVICEREMOVECOMPLETE, NameOf(Serial(3)));
    WaitResult r = Result();
    EXPECT_EQ(r.rc, SAR_OK);
    EXPECT_EQ(r.event, kRemove);
}

TEST_F(DeviceEvents, OneCancelEndsEveryPendingWait)
{
    StartWaiting();
    std::future<WaitResult> first = std::move(m_waiter);
    StartWaiting();
    EXPECT_TRUE(StillWaiting());
    ASSERT_EQ(Cancel(), SAR_OK);
    EXPECT_EQ(Result().event, kCancel);
    m_waiter = std::move(first);
    EXPECT_EQ(Result().event, kCancel);
}

// A name that does not fit keeps its event for the retry with the room
// asked for, NUL included.
TEST_F(DeviceEvents, NameNeverOverrunsTheCallersRoomAndIsNotLost)
{
    tokentest::AddToken(Serial(4));
    std::string name = NameOf(Serial(4));
    StartWaiting(static_cast<ULONG>(name.size()));
    SendDeviceChange(m_window, DBT_DEVICEREMOVECOMPLETE, name);
    WaitResult r = Result();
    EXPECT_EQ(r.rc, SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.nameLen, name.size() + 1);
    EXPECT_EQ(r.name, std::string(300, 'x'));
    StartWaiting(r.nameLen);
    ExpectEvent(kRemove, name);
}

TEST_F(DeviceEvents, WaitNeedsAllItsArguments)
{
    char name[260];
    ULONG len = sizeof name, event = 0;
    EXPECT_EQ(Wait(nullptr, &len, &event), SAR_INVALIDPARAMERR);
    EXPECT_EQ(Wait(name, nullptr, &event), SAR_INVALIDPARAMERR);
    EXPECT_EQ(Wait(name, &len, nullptr), SAR_INVALIDPARAMERR);
}

DWORD RunWaiter(const wchar_t* arguments, DWORD timeout)
{
    std::wstring command = std::wstring(L"SkfEventWaiter.exe") + arguments;
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 98;
    DWORD code = 99;
    if (WaitForSingleObject(process.hProcess, timeout) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// The process ends while a wait is pending: the library's detach must not
// hang on the monitor.
TEST(DeviceEventProcess, EndsWhileAWaitIsPending)
{
    EXPECT_EQ(RunWaiter(L"", 20000), 0u);
}

// Freeing the library while a wait runs, cancelled or not, never hangs;
// 99 is the watchdog's verdict.
TEST(DeviceEventProcess, LibraryIsFreedWhileWaitsRun)
{
    EXPECT_EQ(RunWaiter(L" 30", 120000), 0u);
    EXPECT_EQ(RunWaiter(L" 30 cancel", 120000), 0u);
}

} // namespace
