// Takes a BSTR out-value of the agent and frees it.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

class OutText {
public:
    OutText() = default;
    OutText(const OutText &) = delete;
    OutText &operator=(const OutText &) = delete;
    ~OutText() { SysFreeString(m_bstr); }
    BSTR *operator&() { return &m_bstr; }
    bool IsNull() const { return m_bstr == nullptr; }
    std::wstring Value() const { return m_bstr != nullptr ? std::wstring(m_bstr, SysStringLen(m_bstr)) : L"(null)"; }

private:
    BSTR m_bstr = nullptr;
};
