// The JSON request a page sends and the answer the host gives back.
#pragma once

#include <cjson/cJSON.h>

// Deepest nesting of arrays and objects a request may have; deeper text is
// refused before it is parsed, since parsing, copying and freeing recurse.
const int JSON_NESTING_LIMIT = 64;

// Kinds of value an answer's "result" can carry.
enum JSON_VALUE_KIND {
    JSON_VALUE_FALSE = 0, // both boolean kinds read the value's first byte
    JSON_VALUE_TRUE = 1,
    JSON_VALUE_DOUBLE = 3,
    JSON_VALUE_STRING = 4, // zero-terminated UTF-8
    JSON_VALUE_INT = 7,    // signed 32-bit
};

// Texts handed out are new zero-terminated buffers (delete[]); trees are
// freed with cJSON_Delete.

// Reads "function", "params" (a deep copy) and the optional "randomId" of
// a request; keys match without regard to case. Any out-pointer may be
// null. Returns 0, ERROR_INVALID_PARAMETER for an empty text, or -1.
int ParseRequestMsgToJSON(const char *pszRequestMsg, char **ppszUTF8FuncName, cJSON **ppParams,
                          char **ppszUTF8RandomId);

// The string parameter at nIndex: a JSON string or an object whose "param"
// is one. Returns 0, ERROR_INVALID_PARAMETER, -1, NTE_INTERNAL_ERROR or
// VESK_E_JSON_PARAM_TYPE.
int ConverJSONArrayItemtoNULLEndString(int nIndex, const cJSON *pJSONArray, char **ppszNULLEndString);

// The boolean parameter at nIndex: true, false, or an object whose "param"
// is one of them. Returns as the string reader, without -1.
int ConverJSONArrayItemtobool(const cJSON *pJSONArray, int nIndex, bool *pbValue);

// An answer object with "function", "errorcode" and, for a failure, a false
// "result", else the value of the given kind when one is given. Returns 0,
// ERROR_INVALID_PARAMETER, VESK_E_JSON_CREATE, or -1 for an unknown kind.
int ConstructResponseJSON(cJSON **ppResponseJSON, const char *pszFuncName, int nErrorCode, int nValueKind,
                          const void *pValue);

// Prints the answer object, with the "randomId" appended when there is
// one, or without an object the fallback answer for the function name.
// Returns 0, or -1 when no text could be made (*ppszResponseMsg null).
int ConvertJSONToResponseMsg(const char *pszFuncName, const char *pszRandomId, cJSON *pResponseJSON,
                             char **ppszResponseMsg);
