// The browser plug-in interface as this plug-in and its test browser use
// it: our own declarations of the records, tables and values involved.
// Entries of the browser's table that nobody here calls are kept as
// untyped slots so that the layout stays right.
#pragma once

#include <cstdint>

typedef int16_t NPError;
typedef int16_t NPReason;
typedef unsigned char NPBool;
typedef char NPUTF8;
typedef char *NPMIMEType;
typedef void *NPIdentifier;

enum : NPError {
    NPERR_NO_ERROR = 0,
    NPERR_GENERIC_ERROR = 1,
    NPERR_INVALID_INSTANCE_ERROR = 2,
    NPERR_INVALID_FUNCTABLE_ERROR = 3,
    NPERR_OUT_OF_MEMORY_ERROR = 5,
    NPERR_INCOMPATIBLE_VERSION_ERROR = 8,
};

// Variables of NPP_GetValue.
typedef int32_t NPPVariable;
enum : NPPVariable {
    NPPVpluginNameString = 1,
    NPPVpluginDescriptionString = 2,
    NPPVpluginWindowBool = 3,
    NPPVpluginNeedsXEmbed = 14,
    NPPVpluginScriptableNPObject = 15,
};
typedef int32_t NPNVariable;

struct NPP_t {
    void *pdata; // the plug-in's
    void *ndata; // the browser's
};
typedef NPP_t *NPP;

// Records the plug-in receives but never looks into.
struct NPSavedData;
struct NPWindow;
struct NPStream;
struct NPPrint;

struct NPString {
    const NPUTF8 *UTF8Characters;
    uint32_t UTF8Length; // bytes, without a terminator
};

struct NPClass;

struct NPObject {
    NPClass *_class;
    uint32_t referenceCount;
};

enum NPVariantType : int32_t {
    NPVariantType_Void = 0,
    NPVariantType_Null = 1,
    NPVariantType_Bool = 2,
    NPVariantType_Int32 = 3,
    NPVariantType_Double = 4,
    NPVariantType_String = 5,
    NPVariantType_Object = 6,
};

struct NPVariant {
    NPVariantType type;
    union {
        bool boolValue;
        int32_t intValue;
        double doubleValue;
        NPString stringValue;
        NPObject *objectValue;
    } value;
};

#define NPVARIANT_IS_BOOLEAN(v) ((v).type == NPVariantType_Bool)
#define NPVARIANT_IS_STRING(v) ((v).type == NPVariantType_String)

inline void NULL_TO_NPVARIANT(NPVariant &v)
{
    v.type = NPVariantType_Null;
    v.value.objectValue = nullptr;
}

inline void BOOLEAN_TO_NPVARIANT(bool b, NPVariant &v)
{
    v.type = NPVariantType_Bool;
    v.value.boolValue = b;
}

inline void STRINGN_TO_NPVARIANT(const NPUTF8 *pszText, uint32_t cbText, NPVariant &v)
{
    v.type = NPVariantType_String;
    v.value.stringValue.UTF8Characters = pszText;
    v.value.stringValue.UTF8Length = cbText;
}

typedef NPObject *(*NPAllocateFunctionPtr)(NPP npp, NPClass *aClass);
typedef void (*NPDeallocateFunctionPtr)(NPObject *npobj);
typedef void (*NPInvalidateFunctionPtr)(NPObject *npobj);
typedef bool (*NPHasMethodFunctionPtr)(NPObject *npobj, NPIdentifier name);
typedef bool (*NPInvokeFunctionPtr)(NPObject *npobj, NPIdentifier name, const NPVariant *args, uint32_t argCount,
                                    NPVariant *result);
typedef bool (*NPInvokeDefaultFunctionPtr)(NPObject *npobj, const NPVariant *args, uint32_t argCount,
                                           NPVariant *result);
typedef bool (*NPHasPropertyFunctionPtr)(NPObject *npobj, NPIdentifier name);
typedef bool (*NPGetPropertyFunctionPtr)(NPObject *npobj, NPIdentifier name, NPVariant *result);
typedef bool (*NPSetPropertyFunctionPtr)(NPObject *npobj, NPIdentifier name, const NPVariant *value);
typedef bool (*NPRemovePropertyFunctionPtr)(NPObject *npobj, NPIdentifier name);
typedef bool (*NPEnumerationFunctionPtr)(NPObject *npobj, NPIdentifier **value, uint32_t *count);
typedef bool (*NPConstructFunctionPtr)(NPObject *npobj, const NPVariant *args, uint32_t argCount, NPVariant *result);

const uint32_t NP_CLASS_STRUCT_VERSION = 3;

struct NPClass {
    uint32_t structVersion;
    NPAllocateFunctionPtr allocate;
    NPDeallocateFunctionPtr deallocate;
    NPInvalidateFunctionPtr invalidate;
    NPHasMethodFunctionPtr hasMethod;
    NPInvokeFunctionPtr invoke;
    NPInvokeDefaultFunctionPtr invokeDefault;
    NPHasPropertyFunctionPtr hasProperty;
    NPGetPropertyFunctionPtr getProperty;
    NPSetPropertyFunctionPtr setProperty;
    NPRemovePropertyFunctionPtr removeProperty;
    NPEnumerationFunctionPtr enumerate;
    NPConstructFunctionPtr construct;
};

// The plug-in's handlers.
typedef NPError (*NPP_NewProcPtr)(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc, char *argn[],
                                  char *argv[], NPSavedData *saved);
typedef NPError (*NPP_DestroyProcPtr)(NPP instance, NPSavedData **save);
typedef NPError (*NPP_SetWindowProcPtr)(NPP instance, NPWindow *window);
typedef NPError (*NPP_NewStreamProcPtr)(NPP instance, NPMIMEType type, NPStream *stream, NPBool seekable,
                                        uint16_t *stype);
typedef NPError (*NPP_DestroyStreamProcPtr)(NPP instance, NPStream *stream, NPReason reason);
typedef void (*NPP_StreamAsFileProcPtr)(NPP instance, NPStream *stream, const char *fname);
typedef int32_t (*NPP_WriteReadyProcPtr)(NPP instance, NPStream *stream);
typedef int32_t (*NPP_WriteProcPtr)(NPP instance, NPStream *stream, int32_t offset, int32_t len, void *buffer);
typedef void (*NPP_PrintProcPtr)(NPP instance, NPPrint *platformPrint);
typedef int16_t (*NPP_HandleEventProcPtr)(NPP instance, void *event);
typedef void (*NPP_URLNotifyProcPtr)(NPP instance, const char *url, NPReason reason, void *notifyData);
typedef NPError (*NPP_GetValueProcPtr)(NPP instance, NPPVariable variable, void *value);
typedef NPError (*NPP_SetValueProcPtr)(NPP instance, NPNVariable variable, void *value);
typedef void (*NPGenericProcPtr)(void);

struct NPPluginFuncs {
    uint16_t size;
    uint16_t version;
    NPP_NewProcPtr newp;
    NPP_DestroyProcPtr destroy;
    NPP_SetWindowProcPtr setwindow;
    NPP_NewStreamProcPtr newstream;
    NPP_DestroyStreamProcPtr destroystream;
    NPP_StreamAsFileProcPtr asfile;
    NPP_WriteReadyProcPtr writeready;
    NPP_WriteProcPtr write;
    NPP_PrintProcPtr print;
    NPP_HandleEventProcPtr event;
    NPP_URLNotifyProcPtr urlnotify;
    void *javaClass;
    NPP_GetValueProcPtr getvalue;
    NPP_SetValueProcPtr setvalue;
    NPGenericProcPtr gotfocus;
    NPGenericProcPtr lostfocus;
    NPGenericProcPtr urlredirectnotify;
    NPGenericProcPtr clearsitedata;
    NPGenericProcPtr getsiteswithdata;
    NPGenericProcPtr didComposite;
};

// The browser's entries the plug-in calls.
typedef void *(*NPN_MemAllocProcPtr)(uint32_t size);
typedef void (*NPN_MemFreeProcPtr)(void *ptr);
typedef NPIdentifier (*NPN_GetStringIdentifierProcPtr)(const NPUTF8 *name);
typedef NPUTF8 *(*NPN_UTF8FromIdentifierProcPtr)(NPIdentifier identifier);
typedef NPObject *(*NPN_CreateObjectProcPtr)(NPP npp, NPClass *aClass);
typedef NPObject *(*NPN_RetainObjectProcPtr)(NPObject *obj);
typedef void (*NPN_ReleaseObjectProcPtr)(NPObject *obj);

struct NPNetscapeFuncs {
    uint16_t size;
    uint16_t version;
    NPGenericProcPtr geturl;
    NPGenericProcPtr posturl;
    NPGenericProcPtr requestread;
    NPGenericProcPtr newstream;
    NPGenericProcPtr write;
    NPGenericProcPtr destroystream;
    NPGenericProcPtr status;
    NPGenericProcPtr uagent;
    NPN_MemAllocProcPtr memalloc;
    NPN_MemFreeProcPtr memfree;
    NPGenericProcPtr memflush;
    NPGenericProcPtr reloadplugins;
    NPGenericProcPtr getJavaEnv;
    NPGenericProcPtr getJavaPeer;
    NPGenericProcPtr geturlnotify;
    NPGenericProcPtr posturlnotify;
    NPGenericProcPtr getvalue;
    NPGenericProcPtr setvalue;
    NPGenericProcPtr invalidaterect;
    NPGenericProcPtr invalidateregion;
    NPGenericProcPtr forceredraw;
    NPN_GetStringIdentifierProcPtr getstringidentifier;
    NPGenericProcPtr getstringidentifiers;
    NPGenericProcPtr getintidentifier;
    NPGenericProcPtr identifierisstring;
    NPN_UTF8FromIdentifierProcPtr utf8fromidentifier;
    NPGenericProcPtr intfromidentifier;
    NPN_CreateObjectProcPtr createobject;
    NPN_RetainObjectProcPtr retainobject;
    NPN_ReleaseObjectProcPtr releaseobject;
    NPGenericProcPtr invoke;
    NPGenericProcPtr invokeDefault;
    NPGenericProcPtr evaluate;
    NPGenericProcPtr getproperty;
    NPGenericProcPtr setproperty;
    NPGenericProcPtr removeproperty;
    NPGenericProcPtr hasproperty;
    NPGenericProcPtr hasmethod;
    NPGenericProcPtr releasevariantvalue;
    NPGenericProcPtr setexception;
    NPGenericProcPtr pushpopupsenabledstate;
    NPGenericProcPtr poppopupsenabledstate;
    NPGenericProcPtr enumerate;
    NPGenericProcPtr pluginthreadasynccall;
    NPGenericProcPtr construct;
    NPGenericProcPtr getvalueforurl;
    NPGenericProcPtr setvalueforurl;
    NPGenericProcPtr getauthenticationinfo;
};
