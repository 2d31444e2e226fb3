// KeltoSKF loaded as an application loads it, its exports resolved by
// name, over a fresh simulated-token store per test; and the lines this
// thread left in the library's hourly log.
#pragma once

#include "../tokensim/TokenFixture.h"
#include "SkfExports.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace skftest {

// clang-format off
#define SKF_EXPORTS(X)                                                                                          \
    X(SKF_EnumDev) X(SKF_ConnectDev) X(SKF_DisConnectDev) X(SKF_GetDevState) X(SKF_SetLabel) X(SKF_GetDevInfo) \
    X(SKF_LockDev) X(SKF_UnlockDev) X(SKF_Transmit) X(SKF_GenRandom) X(SKF_ChangeDevAuthKey) X(SKF_DevAuth)    \
    X(SKF_ChangePIN) X(SKF_GetPINInfo) X(SKF_VerifyPIN) X(SKF_UnblockPIN) X(SKF_ClearSecureState)              \
    X(SKF_CreateApplication) X(SKF_EnumApplication) X(SKF_DeleteApplication) X(SKF_OpenApplication)            \
    X(SKF_CloseApplication) X(SKF_CreateContainer) X(SKF_DeleteContainer) X(SKF_OpenContainer)                 \
    X(SKF_CloseContainer) X(SKF_EnumContainer) X(SKF_GetContainerType) X(SKF_ImportCertificate)                \
    X(SKF_ExportCertificate)
// clang-format on

// Looks up one export into its typed pointer; false when it is missing.
template <typename Fn>
bool ResolveExport(HMODULE module, const char* name, Fn& fn)
{
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return fn != nullptr;
}

struct SkfLibrary {
#define SKF_MEMBER(name) decltype(&::name) name = nullptr;
    SKF_EXPORTS(SKF_MEMBER)
#undef SKF_MEMBER
    HMODULE module = nullptr;

    // Every export must be there: a missing one fails the load.
    bool Load(const wchar_t* path)
    {
        module = LoadLibraryW(path);
        if (!module) return false;
        bool all = true;
#define SKF_RESOLVE(name) all = ResolveExport(module, #name, name) && all;
        SKF_EXPORTS(SKF_RESOLVE)
#undef SKF_RESOLVE
        return all;
    }
    void Unload()
    {
        if (module) FreeLibrary(module);
        module = nullptr;
    }
};

inline SkfLibrary& Skf()
{
    static SkfLibrary library;
    return library;
}

constexpr char kLogFolder[] = "C:\\keltosoft";

inline std::string HourLogPath()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%s\\LORVIN_VUVID_%04d-%02d-%02d-%02d.log", kLogFolder, now.wYear, now.wMonth,
                  now.wDay, now.wHour);
    return path;
}

inline std::string ReadFrom(const std::string& path, std::streamoff offset)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) return "";
    file.seekg(offset);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The log lines this thread writes from now on; other threads and
// processes append to the same hourly file.
class LogTail {
public:
    LogTail() : m_path(HourLogPath()), m_offset(static_cast<std::streamoff>(ReadFrom(m_path, 0).size())) { }

    std::vector<std::string> Lines() const
    {
        std::string text = ReadFrom(m_path, m_offset);
        if (HourLogPath() != m_path) text += ReadFrom(HourLogPath(), 0);
        char mark[32];
        std::snprintf(mark, sizeof mark, "Pid:[%#lx]", GetCurrentThreadId());
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            if (line.find(mark) != std::string::npos) lines.push_back(line);
        return lines;
    }
    bool Has(const std::string& text) const
    {
        for (const std::string& line : Lines())
            if (line.find(text) != std::string::npos) return true;
        return false;
    }

private:
    std::string m_path;
    std::streamoff m_offset;
};

inline std::string Serial(int i)
{
    return "VK" + std::to_string(1000 + i);
}
inline std::string NameOf(const std::string& serial)
{
    return tokensim::DeviceNameFor(serial);
}

// Bytes handed to the library as a secret and then looked for in the
// process's memory. Only their masked form is kept here, so this copy is
// never found; the clear copy handed out is wiped after use.
class Secret {
public:
    Secret(std::size_t len, std::uint32_t seed) : m_masked(len)
    {
        for (BYTE& b : m_masked) b = static_cast<BYTE>((seed = seed * 1103515245u + 12345u) >> 16);
    }
    std::vector<BYTE> Clear() const
    {
        std::vector<BYTE> clear(m_masked);
        for (BYTE& b : clear) b ^= kMask;
        return clear;
    }
    static void Wipe(std::vector<BYTE>& clear) { SecureZeroMemory(clear.data(), clear.size()); }
    // The second half only: the heap may overwrite a freed block's first
    // bytes with its own links.
    bool InMemory() const
    {
        const std::size_t from = m_masked.size() / 2;
        MEMORY_BASIC_INFORMATION r;
        for (auto* at = static_cast<const BYTE*>(nullptr); VirtualQuery(at, &r, sizeof r);
             at = static_cast<const BYTE*>(r.BaseAddress) + r.RegionSize) {
            if (r.State != MEM_COMMIT || r.Type != MEM_PRIVATE || r.Protect != PAGE_READWRITE) continue;
            const auto* base = static_cast<const BYTE*>(r.BaseAddress);
            for (SIZE_T i = 0; i + m_masked.size() - from <= r.RegionSize; ++i) {
                std::size_t k = from;
                while (k < m_masked.size() && (base[i + k - from] ^ kMask) == m_masked[k]) ++k;
                if (k == m_masked.size()) return true;
            }
        }
        return false;
    }

private:
    static constexpr BYTE kMask = 0xA5;
    std::vector<BYTE> m_masked;
};

class SkfTest : public tokentest::StoreFixture {
protected:
    static void SetUpTestSuite()
    {
        CreateDirectoryA(kLogFolder, nullptr);
        if (!Skf().module) {
            ASSERT_TRUE(Skf().Load(L"KeltoSKF.dll"));
        }
    }
    void TearDown() override
    {
        for (HCONTAINER c : m_containers) Skf().SKF_CloseContainer(c);
        for (DEVHANDLE d : m_devices) Skf().SKF_DisConnectDev(d);
        StoreFixture::TearDown();
    }
    // A present token with the default PINs, connected.
    DEVHANDLE Connect(const std::string& serial, const tokensim::TokenOptions& options = {})
    {
        tokentest::AddToken(serial, options);
        return ConnectTo(NameOf(serial));
    }
    DEVHANDLE ConnectTo(const std::string& name)
    {
        DEVHANDLE dev = nullptr;
        EXPECT_EQ(Skf().SKF_ConnectDev(const_cast<char*>(name.c_str()), &dev), SAR_OK);
        if (dev) m_devices.push_back(dev);
        return dev;
    }
    void Forget(DEVHANDLE dev)
    {
        m_devices.erase(std::remove(m_devices.begin(), m_devices.end(), dev), m_devices.end());
    }
    HCONTAINER Keep(HCONTAINER c)
    {
        if (c) m_containers.push_back(c);
        return c;
    }
    void Fault(std::uint32_t slot, std::uint32_t code, std::int32_t count = 1)
    {
        tokentest::EditStore([&](tokensim::State& s) { s.faults.push_back({slot, code, count}); });
    }

    std::vector<DEVHANDLE> m_devices;
    std::vector<HCONTAINER> m_containers;
};

inline char* Text(const std::string& s)
{
    return const_cast<char*>(s.c_str());
}

// Makes handles until one has the value of a closed one, as the heap tends
// to give a freed record's address to the next record of its size; the
// others are closed again. Gives up after 16.
inline HANDLE MakeOnTopOf(HANDLE closed, const std::function<HANDLE()>& make, const std::function<void(HANDLE)>& close)
{
    HANDLE made = make();
    for (int i = 1; i < 16 && made != closed; ++i) {
        close(made);
        made = make();
    }
    return made;
}

} // namespace skftest
