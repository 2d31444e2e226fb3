#include "JSONUtility.h"

#include "ErrorCode.h"
#include "TraceHelper.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

const int JSON_ERROR = -1;

const char kFallbackWithId[] = "{\"function\":\"%s\", \"errorcode\":%d, \"result\":false, \"randomId\":\"%s\"}";
const char kFallback[] = "{\"function\":\"%s\", \"errorcode\":%d, \"result\":false}";

char *NewCopy(const char *psz)
{
    size_t cb = strlen(psz) + 1;
    char *pszCopy = new (std::nothrow) char[cb];
    if (pszCopy != nullptr) memcpy(pszCopy, psz, cb);
    return pszCopy;
}

// An escaped NUL in a string of the request becomes this byte, which no
// well-formed UTF-8 text holds: a parameter carrying one is then refused
// like any text that is not exactly what was sent, instead of being cut
// short at the NUL.
const char ESCAPED_NUL_MARK = '\xFF';
const char ESCAPED_NUL[] = "\\u0000";
const size_t ESCAPED_NUL_CCH = sizeof(ESCAPED_NUL) - 1;
// A raw 0xFF byte of the request, no UTF-8 either, stands as 0xFE, so that
// the mark means an escaped NUL alone and can be echoed as one.
const char RAW_MARK_STAND_IN = '\xFE';

// Copies the request for the parser, marking escaped NULs, and counts open
// arrays and objects outside strings the way the parser nests. False when
// they nest too deep.
bool CopyForParser(const char *psz, char *pszOut)
{
    int nDepth = 0;
    bool bInString = false;
    for (; *psz; ++psz) {
        const char c = *psz;
        if (bInString && strncmp(psz, ESCAPED_NUL, ESCAPED_NUL_CCH) == 0) {
            *pszOut++ = ESCAPED_NUL_MARK;
            psz += ESCAPED_NUL_CCH - 1;
            continue;
        }
        *pszOut++ = c == ESCAPED_NUL_MARK ? RAW_MARK_STAND_IN : c;
        if (bInString) {
            if (c == '\\' && psz[1] != '\0')
                *pszOut++ = *++psz;
            else if (c == '"')
                bInString = false;
        } else if (c == '"') {
            bInString = true;
        } else if (c == '[' || c == '{') {
            if (++nDepth > JSON_NESTING_LIMIT) return false;
        } else if (c == ']' || c == '}') {
            --nDepth;
        }
    }
    *pszOut = '\0';
    return true;
}

// The fallback is formatted by hand, so the request's own texts are escaped
// here: a quote or backslash in them must not end the string early.
char *NewJsonEscaped(const char *psz)
{
    static const char kHex[] = "0123456789abcdef";
    char *pszOut = new (std::nothrow) char[strlen(psz) * 6 + 1];
    if (pszOut == nullptr) return nullptr;
    char *p = pszOut;
    for (; *psz; ++psz) {
        unsigned char c = static_cast<unsigned char>(*psz);
        if (c == '"' || c == '\\') {
            *p++ = '\\';
            *p++ = static_cast<char>(c);
        } else if (c < 0x20) {
            memcpy(p, "\\u00", 4);
            p[4] = kHex[c >> 4];
            p[5] = kHex[c & 0xF];
            p += 6;
        } else {
            *p++ = static_cast<char>(c);
        }
    }
    *p = '\0';
    return pszOut;
}

char *NewFallbackText(const char *pszFuncName, const char *pszRandomId)
{
    bool bWithId = pszRandomId != nullptr && *pszRandomId != '\0';
    char *pszName = NewJsonEscaped(pszFuncName != nullptr ? pszFuncName : "");
    char *pszId = NewJsonEscaped(bWithId ? pszRandomId : "");
    char *pszText = nullptr;
    if (pszName != nullptr && pszId != nullptr) {
        size_t cb = strlen(pszName) + (bWithId ? strlen(pszId) + 76 : 59);
        pszText = new (std::nothrow) char[cb];
        if (pszText != nullptr) {
            if (bWithId)
                snprintf(pszText, cb, kFallbackWithId, pszName, static_cast<int>(NTE_INTERNAL_ERROR), pszId);
            else
                snprintf(pszText, cb, kFallback, pszName, static_cast<int>(NTE_INTERNAL_ERROR));
        }
    }
    delete[] pszName;
    delete[] pszId;
    return pszText;
}

// The answer with each mark written back as the escaped NUL it stands
// for: the request's own texts (its randomId, the function name of a
// fallback) come back as they were sent.
char *NewUnmarkedText(const char *psz)
{
    size_t nMarks = 0;
    for (const char *p = psz; *p; ++p)
        if (*p == ESCAPED_NUL_MARK) ++nMarks;
    char *pszOut = new (std::nothrow) char[strlen(psz) + nMarks * (ESCAPED_NUL_CCH - 1) + 1];
    if (pszOut == nullptr) return nullptr;
    char *p = pszOut;
    for (; *psz; ++psz) {
        if (*psz == ESCAPED_NUL_MARK) {
            memcpy(p, ESCAPED_NUL, ESCAPED_NUL_CCH);
            p += ESCAPED_NUL_CCH;
        } else {
            *p++ = *psz;
        }
    }
    *p = '\0';
    return pszOut;
}

char *NewPrintedText(cJSON *pResponseJSON, const char *pszRandomId)
{
    if (pszRandomId != nullptr && *pszRandomId != '\0' &&
        cJSON_AddStringToObject(pResponseJSON, "randomId", pszRandomId) == nullptr) {
        TRACE_A_FAILED("cJSON_AddStringToObject(randomId)", JSON_ERROR, "NULL == pRandomId");
        return nullptr;
    }
    char *pszPrinted = cJSON_PrintUnformatted(pResponseJSON);
    if (pszPrinted == nullptr) {
        TRACE_A_FAILED("cJSON_PrintUnformatted", JSON_ERROR, "NULL == pszPrinted");
        return nullptr;
    }
    char *pszText = NewCopy(pszPrinted);
    cJSON_free(pszPrinted);
    return pszText;
}

// The item at nIndex of the parameters' children (array elements or object
// members alike), checked the same way for every reader.
int FindParamItem(const cJSON *pJSONArray, int nIndex, const cJSON **ppItem)
{
    if (pJSONArray == nullptr || nIndex < 0) {
        TRACE_A_FAILED("Check parameters", ERROR_INVALID_PARAMETER, "(NULL == pJSONArray || nIndex < 0)");
        return ERROR_INVALID_PARAMETER;
    }
    int nCount = cJSON_GetArraySize(pJSONArray);
    if (nCount == 0 || nCount <= nIndex) {
        TRACE_A_FAILED("cJSON_GetArraySize", ERROR_INVALID_PARAMETER, "(0 == nCount || nCount <= nIndex)");
        return ERROR_INVALID_PARAMETER;
    }
    const cJSON *pJSONItem = cJSON_GetArrayItem(pJSONArray, nIndex);
    if (pJSONItem == nullptr) {
        TRACE_A_FAILED("cJSON_GetArrayItem", static_cast<int>(NTE_INTERNAL_ERROR), "NULL == pJSONItem");
        return static_cast<int>(NTE_INTERNAL_ERROR);
    }
    *ppItem = pJSONItem;
    return 0;
}

// An object parameter carries its value in "param"; one without it is
// refused rather than read as something else.
int ParamValue(const cJSON *pJSONItem, const cJSON **ppValue)
{
    if (!cJSON_IsObject(pJSONItem)) {
        *ppValue = pJSONItem;
        return 0;
    }
    *ppValue = cJSON_GetObjectItem(pJSONItem, "param");
    if (*ppValue == nullptr) {
        TRACE_A_FAILED("cJSON_GetObjectItem(param)", static_cast<int>(VESK_E_JSON_PARAM_TYPE), "NULL == pParam");
        return static_cast<int>(VESK_E_JSON_PARAM_TYPE);
    }
    return 0;
}

int AddResult(cJSON *pResponseJSON, int nValueKind, const void *pValue)
{
    cJSON *pResult = nullptr;
    switch (nValueKind) {
    case JSON_VALUE_FALSE:
    case JSON_VALUE_TRUE:
        pResult = cJSON_AddBoolToObject(pResponseJSON, "result", *static_cast<const unsigned char *>(pValue) != 0);
        break;
    case JSON_VALUE_DOUBLE:
        pResult = cJSON_AddNumberToObject(pResponseJSON, "result", *static_cast<const double *>(pValue));
        break;
    case JSON_VALUE_STRING:
        pResult = cJSON_AddStringToObject(pResponseJSON, "result", static_cast<const char *>(pValue));
        break;
    case JSON_VALUE_INT:
        pResult = cJSON_AddNumberToObject(pResponseJSON, "result", *static_cast<const int *>(pValue));
        break;
    default:
        TRACE_A_FAILED("Check parameter(nValueKind)", JSON_ERROR, "unknown value kind");
        return JSON_ERROR;
    }
    if (pResult == nullptr) {
        TRACE_A_FAILED("cJSON_AddItemToObject(result)", static_cast<int>(VESK_E_JSON_CREATE), "NULL == pResult");
        return static_cast<int>(VESK_E_JSON_CREATE);
    }
    return 0;
}

} // namespace

int ParseRequestMsgToJSON(const char *pszRequestMsg, char **ppszUTF8FuncName, cJSON **ppParams, char **ppszUTF8RandomId)
{
    if (pszRequestMsg == nullptr || strlen(pszRequestMsg) == 0) {
        TRACE_A_FAILED("Check parameters", ERROR_INVALID_PARAMETER,
                       "(NULL == pszRequestMsg || 0 == strlen(pszRequestMsg))");
        return ERROR_INVALID_PARAMETER;
    }
    std::unique_ptr<char[]> pszParsed(new (std::nothrow) char[strlen(pszRequestMsg) + 1]);
    if (!pszParsed) {
        TRACE_A_FAILED("New memory(request)", JSON_ERROR, "!pszParsed");
        return JSON_ERROR;
    }
    if (!CopyForParser(pszRequestMsg, pszParsed.get())) {
        TRACE_A_FAILED("Check nesting", JSON_ERROR, "nDepth > JSON_NESTING_LIMIT");
        return JSON_ERROR;
    }
    cJSON *pJsonRoot = cJSON_Parse(pszParsed.get());
    if (pJsonRoot == nullptr) {
        TRACE_A_FAILED("cJSON_Parse", JSON_ERROR, "NULL == pJsonRoot");
        return JSON_ERROR;
    }
    TRACE_A_OK("cJSON_Parse");

    int nResult = JSON_ERROR;
    const cJSON *pFunction = cJSON_GetObjectItem(pJsonRoot, "function");
    const cJSON *pParamsArray = cJSON_GetObjectItem(pJsonRoot, "params");
    const cJSON *pRandomId = cJSON_GetObjectItem(pJsonRoot, "randomId");
    const char *pszUTF8FuncName = cJSON_GetStringValue(pFunction);
    if (pFunction == nullptr) {
        TRACE_A_FAILED("cJSON_GetObjectItem(function)", JSON_ERROR, "NULL == pFunction");
    } else if (pszUTF8FuncName == nullptr) {
        TRACE_A_FAILED("cJSON_GetStringValue(function)", JSON_ERROR, "NULL == pszUTF8FuncName");
    } else if (pParamsArray == nullptr) {
        TRACE_A_FAILED("cJSON_GetObjectItem(params)", JSON_ERROR, "NULL == pParamsArray");
    } else if (pRandomId != nullptr && cJSON_GetStringValue(pRandomId) == nullptr) {
        TRACE_A_FAILED("cJSON_GetStringValue(randomId)", JSON_ERROR, "NULL == pszUTF8RandomId");
    } else if (pRandomId != nullptr && ppszUTF8RandomId != nullptr &&
               (*ppszUTF8RandomId = NewCopy(cJSON_GetStringValue(pRandomId))) == nullptr) {
        TRACE_A_FAILED("New memory(randomId)", JSON_ERROR, "!*ppszUTF8RandomId");
    } else if (ppszUTF8FuncName != nullptr && (*ppszUTF8FuncName = NewCopy(pszUTF8FuncName)) == nullptr) {
        TRACE_A_FAILED("New memory(function)", JSON_ERROR, "!*ppszUTF8FuncName");
    } else if (ppParams != nullptr && (*ppParams = cJSON_Duplicate(pParamsArray, 1)) == nullptr) {
        TRACE_A_FAILED("cJSON_Duplicate(params)", JSON_ERROR, "NULL == *ppParams");
    } else {
        TRACE_A_VALUE("function", pszUTF8FuncName);
        if (pRandomId != nullptr) TRACE_A_VALUE("randomId", cJSON_GetStringValue(pRandomId));
        TRACE_A_OK("ParseRequestMsgToJSON");
        nResult = 0;
    }
    cJSON_Delete(pJsonRoot);
    return nResult;
}

int ConverJSONArrayItemtoNULLEndString(int nIndex, const cJSON *pJSONArray, char **ppszNULLEndString)
{
    const cJSON *pJSONItem = nullptr;
    const cJSON *pValue = nullptr;
    int nResult = FindParamItem(pJSONArray, nIndex, &pJSONItem);
    if (nResult == 0) nResult = ParamValue(pJSONItem, &pValue);
    if (nResult != 0) return nResult;
    const char *pszJSONItem = cJSON_GetStringValue(pValue);
    if (pszJSONItem == nullptr) {
        TRACE_A_FAILED("Check item type", static_cast<int>(VESK_E_JSON_PARAM_TYPE), "cJSON_String != nItemType");
        return static_cast<int>(VESK_E_JSON_PARAM_TYPE);
    }
    char *pszNULLEndString = NewCopy(pszJSONItem);
    if (pszNULLEndString == nullptr) {
        TRACE_A_FAILED("New memory", JSON_ERROR, "!pszNULLEndString");
        return JSON_ERROR;
    }
    *ppszNULLEndString = pszNULLEndString;
    TRACE_A_OK("ConverJSONArrayItemtoNULLEndString");
    return 0;
}

int ConverJSONArrayItemtobool(const cJSON *pJSONArray, int nIndex, bool *pbValue)
{
    const cJSON *pJSONItem = nullptr;
    const cJSON *pValue = nullptr;
    int nResult = FindParamItem(pJSONArray, nIndex, &pJSONItem);
    if (nResult == 0) nResult = ParamValue(pJSONItem, &pValue);
    if (nResult != 0) return nResult;
    if (!cJSON_IsBool(pValue)) {
        TRACE_A_FAILED("Check item type", static_cast<int>(VESK_E_JSON_PARAM_TYPE),
                       "(cJSON_True != nItemType && cJSON_False != nItemType)");
        return static_cast<int>(VESK_E_JSON_PARAM_TYPE);
    }
    *pbValue = cJSON_IsTrue(pValue) != 0;
    TRACE_A_OK("ConverJSONArrayItemtobool");
    return 0;
}

int ConstructResponseJSON(cJSON **ppResponseJSON, const char *pszFuncName, int nErrorCode, int nValueKind,
                          const void *pValue)
{
    if (pszFuncName == nullptr || strlen(pszFuncName) == 0) {
        TRACE_A_FAILED("Check parameters", ERROR_INVALID_PARAMETER,
                       "(NULL == pszFuncName || 0 == strlen(pszFuncName))");
        return ERROR_INVALID_PARAMETER;
    }
    cJSON *pResponseJSON = cJSON_CreateObject();
    if (pResponseJSON == nullptr) {
        TRACE_A_FAILED("cJSON_CreateObject", static_cast<int>(VESK_E_JSON_CREATE), "NULL == pResponseJSON");
        return static_cast<int>(VESK_E_JSON_CREATE);
    }
    int nResult = 0;
    if (cJSON_AddStringToObject(pResponseJSON, "function", pszFuncName) == nullptr ||
        cJSON_AddNumberToObject(pResponseJSON, "errorcode", nErrorCode) == nullptr ||
        (nErrorCode != 0 && cJSON_AddFalseToObject(pResponseJSON, "result") == nullptr)) {
        TRACE_A_FAILED("cJSON_AddItemToObject", static_cast<int>(VESK_E_JSON_CREATE), "NULL == pItem");
        nResult = static_cast<int>(VESK_E_JSON_CREATE);
    } else if (nErrorCode == 0 && pValue != nullptr) {
        nResult = AddResult(pResponseJSON, nValueKind, pValue);
    }
    if (nResult != 0) {
        cJSON_Delete(pResponseJSON);
        return nResult;
    }
    *ppResponseJSON = pResponseJSON;
    TRACE_A_OK("ConstructResponseJSON");
    return 0;
}

int ConvertJSONToResponseMsg(const char *pszFuncName, const char *pszRandomId, cJSON *pResponseJSON,
                             char **ppszResponseMsg)
{
    char *pszMarked = pResponseJSON != nullptr ? NewPrintedText(pResponseJSON, pszRandomId)
                                               : NewFallbackText(pszFuncName, pszRandomId);
    char *pszText = pszMarked != nullptr ? NewUnmarkedText(pszMarked) : nullptr;
    delete[] pszMarked;
    if (pszText == nullptr) {
        TRACE_A_FAILED("ConvertJSONToResponseMsg", JSON_ERROR, "NULL == pszResponseMsg");
        if (ppszResponseMsg != nullptr) *ppszResponseMsg = nullptr;
        return JSON_ERROR;
    }
    TRACE_A_OK("ConvertJSONToResponseMsg");
    if (ppszResponseMsg != nullptr)
        *ppszResponseMsg = pszText;
    else
        delete[] pszText;
    return 0;
}
