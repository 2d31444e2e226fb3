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

struct SessionKeyHandle;
struct HashCtx;

class ExportCall {
public:
    explicit ExportCall(const char* name);
    ~ExportCall();
    ExportCall(const ExportCall&) = delete;
    ExportCall& operator=(const ExportCall&) = delete;

    // False at the first argument refused; Refused() then holds its code.
    bool Check(std::initializer_list<ArgCheck> args);
    ULONG Refused() const { return m_refused; }

    // The records behind the handles this call checked and holds.
    DevCtx* Device(const void* handle) const { return static_cast<DevCtx*>(Held(handle, HandleKind::Device)); }
    ConCtx* Container(const void* handle) const { return static_cast<ConCtx*>(Held(handle, HandleKind::Container)); }
    SessionKeyHandle* Key(const void* handle) const
    {
        return static_cast<SessionKeyHandle*>(Held(handle, HandleKind::SessionKey));
    }
    HashCtx* Hash(const void* handle) const { return static_cast<HashCtx*>(Held(handle, HandleKind::Hash)); }

    // Closes a handle: it is retired at once and its record handed back,
    // for the caller to free, once no other call holds it; nullptr when
    // it is not a live one of this kind.
    void* Take(const void* handle, HandleKind kind);

    // Hands a new record out under a new handle and ends the call; a
    // record that cannot have one is freed and SAR_MEMORYERR returned.
    template <class Record>
    ULONG HandOut(Record* record, HandleKind kind, void (*free)(Record*), HANDLE* handle)
    {
        *handle = RegisterHandle(record, kind);
        if (*handle) return Done();
        free(record);
        return Fail(SAR_MEMORYERR, "RegisterHandle err");
    }

    // Logs a failure at level 1 and returns code.
    ULONG Fail(ULONG code, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    // Logs the end line (format takes the export's name) and returns SAR_OK.
    ULONG Done(const char* endFormat = "%s end...");

private:
    struct Hold {
        const void* handle;
        HandleKind kind;
        void* record;
    };

    void* HoldOne(const void* handle, HandleKind kind);
    bool HoldArgument(const ArgCheck& arg);
    void* Held(const void* handle, HandleKind kind) const;

    static constexpr int kMaxHolds = 4;
    const char* m_name;
    ULONG m_refused = SAR_OK;
    Hold m_held[kMaxHolds] = {};
    int m_heldCount = 0;
};
