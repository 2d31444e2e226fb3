// The device lock across threads and processes: a named mutex that the
// vendor library creates for each token.
#include "SkfFileExports.h"
#include "SkfMoreExports.h"

#include <atomic>
#include <cctype>
#include <cstring>
#include <thread>

namespace {

using namespace skftest;

class DeviceLock : public SkfTest { };

TEST_F(DeviceLock, AnotherThreadWaitsUntilTheHolderUnlocks)
{
    DEVHANDLE dev = Connect(Serial(1));
    HANDLE locked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ULONG holderUnlock = 99;
    std::thread holder([&] {
        EXPECT_EQ(Skf().SKF_LockDev(dev, 1000), SAR_OK);
        SetEvent(locked);
        WaitForSingleObject(release, 10000);
        holderUnlock = Skf().SKF_UnlockDev(dev);
    });
    ASSERT_EQ(WaitForSingleObject(locked, 10000), WAIT_OBJECT_0);
    LogTail log;
    EXPECT_EQ(Skf().SKF_LockDev(dev, 100), SAR_FAIL);
    EXPECT_TRUE(log.Has("DF_WaitMutex ERR[0x102]"));
    // Only the holder may unlock.
    EXPECT_EQ(Skf().SKF_UnlockDev(dev), SAR_FAIL);
    SetEvent(release);
    holder.join();
    EXPECT_EQ(holderUnlock, SAR_OK);
    EXPECT_EQ(Skf().SKF_LockDev(dev, 1000), SAR_OK);
    EXPECT_EQ(Skf().SKF_UnlockDev(dev), SAR_OK);
    CloseHandle(locked);
    CloseHandle(release);
}

// Locks this thread took through a connection go with it, once the token
// has closed; then another thread locks the token at once.
TEST_F(DeviceLock, DisconnectReleasesTheLocksItsThreadTook)
{
    DEVHANDLE dev = Connect(Serial(1));
    DEVHANDLE other = ConnectTo(NameOf(Serial(1)));
    ASSERT_EQ(Skf().SKF_LockDev(dev, 1000), SAR_OK);
    ASSERT_EQ(Skf().SKF_LockDev(dev, 1000), SAR_OK);
    ASSERT_EQ(Skf().SKF_LockDev(dev, 1000), SAR_OK);
    ASSERT_EQ(Skf().SKF_UnlockDev(dev), SAR_OK);
    Fault(5, devicelib::UK_SW_CONDITIONS_NOT_SATISFIED);
    EXPECT_EQ(Skf().SKF_DisConnectDev(dev), SAR_FAIL);
    EXPECT_EQ(Skf().SKF_UnlockDev(dev), SAR_OK);
    EXPECT_EQ(Skf().SKF_DisConnectDev(dev), SAR_OK);
    Forget(dev);
    ULONG locked = 99, unlocked = 99;
    std::thread([&] {
        locked = Skf().SKF_LockDev(other, 100);
        if (locked == SAR_OK) unlocked = Skf().SKF_UnlockDev(other);
    }).join();
    EXPECT_EQ(locked, SAR_OK);
    EXPECT_EQ(unlocked, SAR_OK);
}

class OtherProcess {
public:
    OtherProcess(const std::string& device, const char* mode)
    {
        char tag[64];
        std::snprintf(tag, sizeof tag, "skf-lock-%lu-%s", GetCurrentProcessId(), mode);
        m_readyName = std::string(tag) + "-ready";
        m_releaseName = std::string(tag) + "-release";
        m_ready = CreateEventA(nullptr, TRUE, FALSE, m_readyName.c_str());
        m_release = CreateEventA(nullptr, TRUE, FALSE, m_releaseName.c_str());
        std::string command = "SkfLockHolder.exe \"" + device + "\" " + m_readyName + " " + m_releaseName + " " + mode;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        m_started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &m_process) != FALSE;
    }
    ~OtherProcess()
    {
        if (m_started) {
            CloseHandle(m_process.hThread);
            CloseHandle(m_process.hProcess);
        }
        CloseHandle(m_ready);
        CloseHandle(m_release);
    }
    bool HoldsTheLock() { return m_started && WaitForSingleObject(m_ready, 20000) == WAIT_OBJECT_0; }
    DWORD Release()
    {
        SetEvent(m_release);
        DWORD code = 99;
        if (WaitForSingleObject(m_process.hProcess, 60000) == WAIT_OBJECT_0)
            GetExitCodeProcess(m_process.hProcess, &code);
        return code;
    }

private:
    std::string m_readyName, m_releaseName;
    HANDLE m_ready, m_release;
    PROCESS_INFORMATION m_process = {};
    bool m_started = false;
};

TEST_F(DeviceLock, AnotherProcessHoldsTheSameTokensLock)
{
    DEVHANDLE dev = Connect(Serial(1));
    OtherProcess other(NameOf(Serial(1)), "unlock");
    ASSERT_TRUE(other.HoldsTheLock());
    EXPECT_EQ(Skf().SKF_LockDev(dev, 200), SAR_FAIL);
    DEVHANDLE second = Connect(Serial(2));
    EXPECT_EQ(Skf().SKF_LockDev(second, 200), SAR_OK);
    EXPECT_EQ(Skf().SKF_UnlockDev(second), SAR_OK);
    EXPECT_EQ(other.Release(), 0u);
    EXPECT_EQ(Skf().SKF_LockDev(dev, 5000), SAR_OK);
    EXPECT_EQ(Skf().SKF_UnlockDev(dev), SAR_OK);
}

TEST_F(DeviceLock, LockLeftByAnEndedProcessPassesToTheNextCaller)
{
    DEVHANDLE dev = Connect(Serial(1));
    OtherProcess other(NameOf(Serial(1)), "exit");
    ASSERT_TRUE(other.HoldsTheLock());
    EXPECT_EQ(other.Release(), 0u);
    EXPECT_EQ(Skf().SKF_LockDev(dev, 5000), SAR_OK);
    EXPECT_EQ(Skf().SKF_UnlockDev(dev), SAR_OK);
}

// A file write holds the token from its read to its write back, so that
// another process's write in between is not put back as it was.
TEST_F(DeviceLock, FileWriteWaitsForAnotherProcessesLock)
{
    DEVHANDLE dev = Connect(Serial(1));
    ULONG retry = 0;
    ASSERT_EQ(Skf().SKF_VerifyPIN(dev, USER_TYPE, Text("12345678"), &retry), SAR_OK);
    ASSERT_EQ(SKF_EXPORT(SKF_CreateFile)(dev, Text("shared"), 8, 0xFF, 0x10), SAR_OK);
    OtherProcess other(NameOf(Serial(1)), "unlock");
    ASSERT_TRUE(other.HoldsTheLock());
    BYTE data[4] = {1, 2, 3, 4};
    std::atomic<ULONG> written {99};
    std::thread writer([&] { written = SKF_EXPORT(SKF_WriteFile)(dev, Text("shared"), 4, data, 4); });
    Sleep(500); // time for a write that does not wait to end
    EXPECT_EQ(written, 99u);
    EXPECT_EQ(other.Release(), 0u);
    writer.join();
    EXPECT_EQ(written, SAR_OK);
    BYTE out[4] = {};
    ULONG len = sizeof out;
    EXPECT_EQ(SKF_EXPORT(SKF_ReadFile)(dev, Text("shared"), 4, 4, out, &len), SAR_OK);
    EXPECT_EQ(std::memcmp(out, data, 4), 0);
}

// A wait for a lock that only another process can release does not hold
// up a disconnect: the disconnect ends it with SAR_INVALIDHANDLEERR.
TEST_F(DeviceLock, DisconnectEndsAWaitForAnotherProcessesLock)
{
    DEVHANDLE dev = Connect(Serial(1));
    OtherProcess other(NameOf(Serial(1)), "unlock");
    ASSERT_TRUE(other.HoldsTheLock());
    ULONG waited = 99, disconnected = 99;
    std::thread waiter([&] { waited = Skf().SKF_LockDev(dev, INFINITE); });
    Sleep(500); // time to reach the wait
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread closer([&] {
        disconnected = Skf().SKF_DisConnectDev(dev);
        SetEvent(done);
    });
    EXPECT_EQ(WaitForSingleObject(done, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(other.Release(), 0u);
    closer.join();
    waiter.join();
    Forget(dev);
    CloseHandle(done);
    EXPECT_EQ(disconnected, SAR_OK);
    EXPECT_EQ(waited, SAR_INVALIDHANDLEERR);
}

// Loaded, used and unloaded round after round, the library leaves no
// handles and no memory behind.
TEST_F(DeviceLock, UnloadedAfterEveryRoundLeavesNothingBehind)
{
    tokentest::AddToken(Serial(1));
    tokentest::EditStore([](tokensim::State& s) { ASSERT_EQ(tokensim::AddKeyPair(s, Serial(1), {"sm2 keys"}), ""); });
    EXPECT_EQ(OtherProcess(NameOf(Serial(1)), "rounds").Release(), 0u);
}

// Mutex names are case-sensitive while the vendor finds tokens by name in
// any case: connected under another spelling, no mutex matches.
TEST_F(DeviceLock, TokenWithoutItsMutexCannotBeLocked)
{
    tokentest::AddToken(Serial(1));
    std::string upper = NameOf(Serial(1));
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    DEVHANDLE dev = ConnectTo(upper);
    ASSERT_NE(dev, nullptr);
    LogTail log;
    EXPECT_EQ(Skf().SKF_LockDev(dev, 100), SAR_FAIL);
    EXPECT_TRUE(log.Has("OpenMutex ERR[0x2]"));
    EXPECT_EQ(Skf().SKF_UnlockDev(dev), SAR_FAIL);
    EXPECT_EQ(Skf().SKF_LockDev(nullptr, 100), SAR_INVALIDHANDLEERR);
}

} // namespace
