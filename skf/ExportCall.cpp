#include "ExportCall.h"

#include "Logger.h"

#include <cstdarg>
#include <cstdio>

namespace {

bool IsLive(const ArgCheck& arg)
{
    switch (arg.kind) {
    case ArgKind::DeviceHandle:
        return IsLiveHandle(arg.value, HandleKind::Device);
    case ArgKind::ContainerHandle:
        return IsLiveHandle(arg.value, HandleKind::Container) &&
            IsLiveHandle(static_cast<const ConCtx*>(arg.value)->pDevCtx, HandleKind::Device);
    case ArgKind::ClosingContainer:
        return IsLiveHandle(arg.value, HandleKind::Container);
    default:
        return true;
    }
}

} // namespace

ExportCall::ExportCall(const char* name) : m_name(name)
{
    LogMessage(LOG_DEBUG, "%s start...", m_name);
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
        if (!IsLive(arg)) {
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
