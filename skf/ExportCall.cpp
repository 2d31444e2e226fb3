#include "ExportCall.h"

#include "KeyLayer.h"
#include "Logger.h"

#include <cstdarg>
#include <cstdio>

ExportCall::ExportCall(const char* name) : m_name(name)
{
    LogMessage(LOG_DEBUG, "%s start...", m_name);
}

ExportCall::~ExportCall()
{
    for (int i = 0; i < m_heldCount; ++i) ReleaseHandle(m_held[i].handle);
}

void* ExportCall::HoldOne(const void* handle, HandleKind kind)
{
    if (m_heldCount == kMaxHolds) return nullptr;
    void* record = HoldHandle(handle, kind);
    if (record) m_held[m_heldCount++] = Hold {handle, kind, record};
    return record;
}

// A child handle is held first, then the device it names.
bool ExportCall::HoldArgument(const ArgCheck& arg)
{
    switch (arg.kind) {
    case ArgKind::DeviceHandle:
        return HoldOne(arg.value, HandleKind::Device);
    case ArgKind::ContainerHandle: {
        auto* con = static_cast<const ConCtx*>(HoldOne(arg.value, HandleKind::Container));
        return con && HoldOne(con->hDev, HandleKind::Device);
    }
    case ArgKind::ClosingContainer:
        return HoldOne(arg.value, HandleKind::Container);
    case ArgKind::SessionKey: {
        auto* key = static_cast<const SessionKeyHandle*>(HoldOne(arg.value, HandleKind::SessionKey));
        return key && HoldOne(key->hDev, HandleKind::Device);
    }
    case ArgKind::HashHandle:
        return HoldOne(arg.value, HandleKind::Hash);
    default:
        return true;
    }
}

void* ExportCall::Held(const void* handle, HandleKind kind) const
{
    for (int i = 0; i < m_heldCount; ++i)
        if (m_held[i].handle == handle && m_held[i].kind == kind) return m_held[i].record;
    return nullptr;
}

void* ExportCall::Take(const void* handle, HandleKind kind)
{
    for (int i = 0; i < m_heldCount; ++i) {
        if (m_held[i].handle != handle || m_held[i].kind != kind) continue;
        void* record = TakeHandle(handle, kind, true);
        if (record) m_held[i] = m_held[--m_heldCount];
        return record;
    }
    return TakeHandle(handle, kind);
}

bool ExportCall::Check(std::initializer_list<ArgCheck> args)
{
    for (const ArgCheck& arg : args) {
        ULONG code = arg.kind == ArgKind::Pointer ? SAR_INVALIDPARAMERR : SAR_INVALIDHANDLEERR;
        if (!arg.value) {
            LogNullPointer(arg.file, arg.line, arg.name);
            m_refused = code;
            return false;
        }
        if (!HoldArgument(arg)) {
            LogMessage(LOG_ERROR, "[%s(%d)]Invalid Handle: %s", SourceName(arg.file), arg.line, arg.name);
            m_refused = code;
            return false;
        }
    }
    return true;
}

ULONG ExportCall::Fail(ULONG code, const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LogMessage(LOG_ERROR, "%s", text);
    return code;
}

ULONG ExportCall::Done(const char* endFormat)
{
    LogMessage(LOG_DEBUG, endFormat, m_name);
    return SAR_OK;
}
