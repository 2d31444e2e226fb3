// The pattern every SKF export follows: a start line, the argument checks
// in the export's order, one device-layer call, and an end line on success.
// Each handle checked is held until the call ends, so no other thread can
// free it in the meantime.
#pragma once

#include "Handles.h"
#include "SkfDefs.h"

#include <initializer_list>

enum class ArgKind {
    DeviceHandle,     // a live device (or application) handle
    ContainerHandle,  // a live container handle whose device is live too
    ClosingContainer, // a live container handle, its device live or not
    SessionKey,       // a live session key whose device is live too
    HashHandle,       // a live hash handle
    HandleOut,        // where a handle is handed out
    Pointer,
};

struct ArgCheck {
    const void* value;
    const char* name;
    ArgKind kind;
    const char* file;
    int line;
};

#define SKF_DEVICE_ARG(x)                                                                                              \
    ArgCheck                                                                                                           \
    {                                                                                                                  \
        x, #x, ArgKind::DeviceHandle, __FILE__, __LINE__                                                               \
    }
#define SKF_CONTAINER_ARG(x)                                                                                           \
    ArgCheck                                                                                                           \
    {                                                                                                                  \
        x, #x, ArgKind::ContainerHandle, __FILE__, __LINE__                                                            \
    }
#define SKF_CLOSING_CONTAINER_ARG(x)                                                                                   \
    ArgCheck                                                                                                           \
    {                                                                                                                  \
        x, #x, ArgKind::ClosingContainer, __FILE__, __LINE__                                                           \
    }
#define SKF_KEY_HANDLE_ARG(x)                                                                                          \
    ArgCheck                                                                                                           \
    {                                                                                                                  \
        x, #x, ArgKind::SessionKey, __FILE__, __LINE__                                                                 \
    }
#define SKF_HASH_ARG(x)                                                                                                \
    ArgCheck                                                                                                           \
    {                                                                                                                  \
        x, #x, ArgKind::HashHandle, __FILE__, __LINE__                                                                 \
    }
#define SKF_HANDLE_OUT_ARG(x)                                                                                          \
    ArgCheck                                                                                                           \
    {                                                                                                                  \
        x, #x, ArgKind::HandleOut, __FILE__, __LINE__                                                                  \
    }
#define SKF_POINTER_ARG(x)                                                                                             \
    ArgCheck                                                                                                           \
    {                                                                                                                  \
        x, #x, ArgKind::Pointer, __FILE__, __LINE__                                                                    \
    }

class ExportCall {
public:
    explicit ExportCall(const char* name);
    ~ExportCall();
    ExportCall(const ExportCall&) = delete;
    ExportCall& operator=(const ExportCall&) = delete;

    // False at the first argument refused; Refused() then holds its code.
    bool Check(std::initializer_list<ArgCheck> args);
    ULONG Refused() const { return m_refused; }
    // Closes a handle this call checked: it is retired at once and handed
    // back once no other call holds it; false when another close came
    // first.
    bool Take(const void* handle, HandleKind kind);

    // Logs a failure at level 1 and returns code.
    ULONG Fail(ULONG code, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    // Logs the end line (format takes the export's name) and returns SAR_OK.
    ULONG Done(const char* endFormat = "%s end...");

private:
    bool Hold(const void* handle, HandleKind kind, std::uint64_t generation = 0);
    bool HoldArgument(const ArgCheck& arg);
    // The connection a held child handle was made on.
    template <class Child>
    bool HoldDeviceOf(const Child* child)
    {
        return Hold(child->pDevCtx, HandleKind::Device, child->devGeneration);
    }

    static constexpr int kMaxHolds = 4;
    const char* m_name;
    ULONG m_refused = SAR_OK;
    const void* m_held[kMaxHolds] = {};
    int m_heldCount = 0;
};

inline DevCtx* AsDevice(HANDLE h)
{
    return static_cast<DevCtx*>(h);
}
inline ConCtx* AsContainer(HANDLE h)
{
    return static_cast<ConCtx*>(h);
}
