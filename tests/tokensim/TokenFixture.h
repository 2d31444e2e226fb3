// A fresh token store per test, and the simulated token's table loaded the
// way the token libraries load it.
#pragma once

#include "Provisioning.h"
#include "DeviceTable.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

namespace tokentest {

inline std::string TempPath(const char* leaf)
{
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%s%s-%lu.tmp", dir, leaf, GetCurrentProcessId());
    return path;
}

inline void EditStore(const std::function<void(tokensim::State&)>& edit)
{
    tokensim::StateLock lock;
    tokensim::State state;
    ASSERT_TRUE(lock.Load(state));
    edit(state);
    ASSERT_TRUE(lock.Save(state));
}

inline void AddToken(const std::string& serial, const tokensim::TokenOptions& base = {})
{
    EditStore([&](tokensim::State& s) {
        tokensim::TokenOptions o = base;
        o.serial = serial;
        ASSERT_EQ(tokensim::AddToken(s, o), "");
    });
}

class StoreFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_store = TempPath("tokensim-store");
        DeleteFileA(m_store.c_str());
        SetEnvironmentVariableA("SIGWELL_TOKENSIM_STATE", m_store.c_str());
    }
    void TearDown() override { DeleteFileA(m_store.c_str()); }
    std::string m_store;
};

} // namespace tokentest
