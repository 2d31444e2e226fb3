// The device-removal watch: its hidden window and the PIN cache. Wine
// delivers no device-interface notifications, so the tests send the watch
// window the WM_DEVICECHANGE messages that a real removal or arrival brings.
#include "ProviderFixture.h"

#include "RemovalWatch.h"

#include <dbt.h>

#include <string>

namespace {

using csptest::ContextOf;

// A device-interface broadcast record with its path behind the header.
class Broadcast {
public:
    Broadcast(const std::string& path, DWORD deviceType = DBT_DEVTYP_DEVICEINTERFACE)
        : m_bytes(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + (path.size() + 1) * sizeof(wchar_t))
    {
        auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(m_bytes.data());
        record->dbcc_size = static_cast<DWORD>(m_bytes.size());
        record->dbcc_devicetype = deviceType;
        for (std::size_t i = 0; i < path.size(); ++i) record->dbcc_name[i] = static_cast<wchar_t>(path[i]);
    }
    LPARAM Param() { return reinterpret_cast<LPARAM>(m_bytes.data()); }

private:
    std::vector<BYTE> m_bytes;
};

std::string Swapcase(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

class RemovalWatch : public csptest::ProviderFixture {
protected:
    void SetUp() override
    {
        ProviderFixture::SetUp();
        tokentest::AddToken("A");
    }
    // The watch window, once the thread started by the first acquisition
    // has made it.
    static HWND WatchWindow()
    {
        for (int i = 0; i < 200 && !g_RemovalWatchWindow; ++i) Sleep(10);
        return g_RemovalWatchWindow;
    }
    static const PinCacheEntry* Entry(const char* name)
    {
        for (const PinCacheEntry& e : PinCache)
            if (e.deviceName[0] && lstrcmpiA(e.deviceName, name) == 0) return &e;
        return nullptr;
    }
};

TEST_F(RemovalWatch, RemovedTokenLosesItsPinOthersChangeNothing)
{
    HCRYPTPROV context = NewContainer("watched");
    const std::string device = ContextOf(context)->session.deviceName;
    ASSERT_FALSE(device.empty());
    HWND window = WatchWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
    ASSERT_NE(Entry(device.c_str()), nullptr);
    ASSERT_EQ(Entry(device.c_str())->pinLength, std::strlen(csptest::kUserPin));

    Broadcast same(device), other(device + "-other"), volume(device, DBT_DEVTYP_VOLUME);
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, same.Param());
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, other.Param());
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, volume.Param());
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
    EXPECT_EQ(Entry(device.c_str())->pinLength, std::strlen(csptest::kUserPin)) << "only a removal of the token counts";

    Broadcast removed(Swapcase(device));
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, removed.Param());
    const PinCacheEntry* entry = Entry(device.c_str());
    ASSERT_NE(entry, nullptr) << "the name stays";
    EXPECT_EQ(entry->pinLength, 0u);
    EXPECT_EQ(std::count(std::begin(entry->pin), std::end(entry->pin), 0),
              std::end(entry->pin) - std::begin(entry->pin));

    // The token comes back: the next context finds no PIN.
    HCRYPTPROV again = 0;
    ASSERT_EQ(Acquire(&again, "watched", 0), 0u);
    EXPECT_EQ(ContextOf(again)->session.pinLength, 0u);
    EXPECT_EQ(g_RemovalWatchWindow, window) << "one watch per process";
}

BOOL CALLBACK CountWatchWindow(HWND window, LPARAM count)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() &&
        GetWindowLongPtrW(window, DWLP_DLGPROC) == reinterpret_cast<LONG_PTR>(RemovalWatchProc))
        ++*reinterpret_cast<int*>(count);
    return TRUE;
}

// Watch windows of this process: the dialogs run by the watch's procedure.
int WatchWindowCount()
{
    int count = 0;
    EnumWindows(CountWatchWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Closes the watch and gives its thread the time to end.
void EndWatch()
{
    StopRemovalWatch();
    for (int i = 0; i < 200 && g_RemovalWatchWindow; ++i) Sleep(10);
    Sleep(300);
}

TEST_F(RemovalWatch, ClosedWindowEndsTheWatchAndTheNextAcquisitionStartsOne)
{
    HCRYPTPROV context = NewContainer("closing");
    HWND window = WatchWindow();
    ASSERT_NE(window, nullptr);
    EndWatch();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(g_RemovalWatchWindow, nullptr);
    StopRemovalWatch(); // nothing left to close

    // The ended thread let a new one start.
    Release(context);
    ASSERT_EQ(Acquire(&context, "closing", 0), 0u);
    HWND next = WatchWindow();
    ASSERT_NE(next, nullptr);
    EXPECT_TRUE(IsWindow(next));
}

TEST_F(RemovalWatch, OneWatchForQuickAcquisitionsAndAStrayNullEndsNothing)
{
    NewContainer("quick");
    ASSERT_NE(WatchWindow(), nullptr);
    EndWatch();
    for (int i = 0; i < 5; ++i) StartRemovalWatch();
    HWND window = WatchWindow();
    ASSERT_NE(window, nullptr);
    Sleep(300);
    EXPECT_EQ(WatchWindowCount(), 1);

    PostMessageW(window, WM_NULL, 0, 0);
    Sleep(300);
    ASSERT_TRUE(IsWindow(window));
    const std::string device = ContextOf(m_contexts[0])->session.deviceName;
    Broadcast removed(device);
    DWORD_PTR answer = 0;
    EXPECT_NE(SendMessageTimeoutW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, removed.Param(), SMTO_BLOCK, 2000,
                                  &answer),
              0)
        << "the watch no longer serves its window";
    EXPECT_EQ(Entry(device.c_str())->pinLength, 0u);
}

} // namespace
