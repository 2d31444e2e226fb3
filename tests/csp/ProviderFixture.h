// The provider's inner operations over simulated tokens: a fresh store per
// test, the vendor library bound once, and helpers to acquire contexts.
#pragma once

#include "../tokensim/TokenFixture.h"
#include "ObjectLists.h"
#include "PinCache.h"
#include "ProviderContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace csptest {

constexpr char kUserPin[] = "12345678";

class ProviderFixture : public tokentest::StoreFixture {
protected:
    static void SetUpTestSuite()
    {
        static bool bound = false;
        if (bound) return;
        InitializeCriticalSection(&PinCacheLock);
        LoadDeviceLibrary();
        bound = true;
    }
    void SetUp() override
    {
        StoreFixture::SetUp();
        ASSERT_NE(g_FuncList, nullptr);
        std::memset(PinCache, 0, sizeof PinCache);
    }
    void TearDown() override
    {
        for (HCRYPTPROV context : m_contexts) ReleaseContextImpl(context, 0);
        StoreFixture::TearDown();
    }

    DWORD Acquire(HCRYPTPROV* context, const char* name, DWORD flags)
    {
        DWORD status = AcquireContextImpl(context, name, flags);
        if (status == 0 && !(flags & CRYPT_DELETEKEYSET)) m_contexts.push_back(*context);
        return status;
    }
    // A new container on the one token, logged in with the user PIN.
    HCRYPTPROV NewContainer(const char* name)
    {
        HCRYPTPROV context = 0;
        EXPECT_EQ(Acquire(&context, name, CRYPT_NEWKEYSET), 0u);
        EXPECT_EQ(SetProvParamImpl(context, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE*>(kUserPin)), 0u);
        return context;
    }
    void Release(HCRYPTPROV context)
    {
        ASSERT_EQ(ReleaseContextImpl(context, 0), 0u);
        m_contexts.erase(std::remove(m_contexts.begin(), m_contexts.end(), context), m_contexts.end());
    }

    std::vector<HCRYPTPROV> m_contexts;
};

inline ProviderContext* ContextOf(HCRYPTPROV handle)
{
    return reinterpret_cast<ProviderContext*>(handle);
}

} // namespace csptest
