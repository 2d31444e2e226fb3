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
    for (int i = 0; i < m_heldCount; ++i) ReleaseHandle(m_held[i]);
}

bool ExportCall::Hold(const void* handle, HandleKind kind, std::uint64_t generation)
{
    if (m_heldCount == kMaxHolds || !HoldHandle(handle, kind, generation)) return false;
    m_held[m_heldCount++] = handle;
    return true;
}

// A child handle is held first, then its own device connection, read from
// the child only once it is held.
bool ExportCall::HoldArgument(const ArgCheck& arg)
{
    switch (arg.kind) {
    case ArgKind::DeviceHandle:
        return Hold(arg.value, HandleKind::Device);
    case ArgKind::ContainerHandle:
        return Hold(arg.value, HandleKind::Container) && HoldDeviceOf(static_cast<const ConCtx*>(arg.value));
    case ArgKind::ClosingContainer:
        return Hold(arg.value, HandleKind::Container);
    case ArgKind::SessionKey:
        return Hold(arg.value, HandleKind::SessionKey) && HoldDeviceOf(static_cast<const SessionKeyHandle*>(arg.value));
    case ArgKind::HashHandle:
        return Hold(arg.value, HandleKind::Hash);
    default:
        return true;
    }
}

bool ExportCall::Take(const void* handle, HandleKind kind)
{
    for (int i = 0; i < m_heldCount; ++i) {
        if (m_held[i] != handle) continue;
        if (!TakeHandle(handle, kind, true)) return false;
        m_held[i] = m_held[--m_heldCount];
        return true;
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
