#include "CertificateChainImport.h"

#include "CertificateQuery.h"
#include "ErrorCode.h"
#include "PlatformStatus.h"
#include "PluginCertificates.h"
#include "PluginModule.h"
#include "TextConversion.h"
#include "TraceHelper.h"

#include <msxml2.h>
#include <shlwapi.h>
#include <wincrypt.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace {

// The in-process DOM document and its interface.
const CLSID kClsidDOMDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
const IID kIidXMLDOMDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

const wchar_t kResourceType[] = L"CERTIFICATE";
const DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const DWORD kCertificatePropertyID = 32;
const DWORD kPropertyHeaderSize = 12;
const REGSAM kCreateKeyAccess = 0x2001F;

// Not found: the caller goes on without a node.
const HRESULT kNodeNotFound = 0x20001402;

template <typename T>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef &) = delete;
    ComRef &operator=(const ComRef &) = delete;
    ~ComRef() { Reset(); }
    void Reset()
    {
        if (m_p != nullptr) m_p->Release();
        m_p = nullptr;
    }
    void Attach(T *p)
    {
        Reset();
        m_p = p;
    }
    T *Detach()
    {
        T *p = m_p;
        m_p = nullptr;
        return p;
    }
    T **operator&() { return &m_p; }
    T *operator->() const { return m_p; }
    T *Get() const { return m_p; }

private:
    T *m_p = nullptr;
};

class Bstr {
public:
    explicit Bstr(BSTR bstr = nullptr) : m_bstr(bstr) { }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    ~Bstr() { SysFreeString(m_bstr); }
    BSTR *operator&() { return &m_bstr; }
    BSTR Get() const { return m_bstr; }

private:
    BSTR m_bstr;
};

typedef std::unique_ptr<BYTE[]> Bytes;
typedef std::unique_ptr<wchar_t[]> WideText;

HRESULT GetMachineTime(FILETIME *pftMachineTime)
{
    TRACE_FUNCTION(L"GetMachineTime");
    SYSTEMTIME stLocal = {}, stUTC = {};
    GetLocalTime(&stLocal);
    BOOL bResult =
        TzSpecificLocalTimeToSystemTime(nullptr, &stLocal, &stUTC) && SystemTimeToFileTime(&stUTC, pftMachineTime);
    if (!bResult) {
        HRESULT hResult = FailedCallStatus();
        TRACE_FAILED(L"SystemTimeToFileTime", L"!bResult", hResult);
        return hResult;
    }
    return S_OK;
}

HRESULT CheckCertValidTime(const FILETIME *pftMachineTime, PCCERT_CONTEXT pstCertContext, BOOL *pbExpired)
{
    TRACE_FUNCTION(L"CheckCertValidTime");
    *pbExpired = FALSE;
    if (NULL == pstCertContext) {
        TRACE_FAILED(L"Check parameters", L"NULL == pstCertContext", E_INVALIDARG);
        return E_INVALIDARG;
    }
    if (NULL == pftMachineTime) {
        TRACE_FAILED(L"Check parameters", L"NULL == pstMachineTime", E_INVALIDARG);
        return E_INVALIDARG;
    }
    wchar_t *pwszSubject = nullptr;
    DWORD cchSubject = 0;
    HRESULT hResult = QueryCertContextInfo(&cchSubject, &pwszSubject, pstCertContext, CERTINFO_SUBJECT);
    WideText subject(pwszSubject);
    TRACE_RETURN_IF_FAILED(L"QueryCertContextInfo", hResult);
    TraceValue(L"Subject", subject.get());
    if (CompareFileTime(&pstCertContext->pCertInfo->NotAfter, pftMachineTime) < 0) {
        TraceValue(L"Expired", subject.get());
        *pbExpired = TRUE;
    }
    return S_OK;
}

HRESULT LoadModuleResource(HMODULE hModule, WORD wResourceID, Bytes &data, DWORD *pcbData)
{
    TRACE_FUNCTION(L"LoadModuleResource");
    HRSRC hResInfo = FindResourceW(hModule, MAKEINTRESOURCEW(wResourceID), kResourceType);
    if (hResInfo == nullptr) {
        HRESULT hResult = FailedCallStatus();
        TRACE_FAILED(L"FindResource", L"FindResource FAILED.", hResult);
        return hResult;
    }
    DWORD cbData = SizeofResource(hModule, hResInfo);
    if (cbData == 0) {
        HRESULT hResult = FailedCallStatus();
        TRACE_FAILED(L"SizeofResource", L"SizeofResource FAILED.", hResult);
        return hResult;
    }
    HGLOBAL hResData = LoadResource(hModule, hResInfo);
    const void *pvData = hResData != nullptr ? LockResource(hResData) : nullptr;
    if (pvData == nullptr) {
        HRESULT hResult = FailedCallStatus();
        TRACE_FAILED(L"LoadResource", L"LoadResource FAILED.", hResult);
        return hResult;
    }
    data.reset(new (std::nothrow) BYTE[cbData]);
    if (!data) {
        FreeResource(hResData);
        TRACE_FAILED(L"new", L"Dispatch memory failed.", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    memcpy(data.get(), pvData, cbData);
    FreeResource(hResData);
    *pcbData = cbData;
    return S_OK;
}

HRESULT LoadXMLDom(const BYTE *pbResData, DWORD cbResData, ComRef<IXMLDOMDocument> &document)
{
    TRACE_FUNCTION(L"LoadXMLDom");
    if (pbResData == nullptr) {
        TRACE_FAILED(L"Check parameters", L"lpResData == NULL", E_INVALIDARG);
        return E_INVALIDARG;
    }
    HRESULT hResult = CoCreateInstance(kClsidDOMDocument, nullptr, CLSCTX_INPROC_SERVER, kIidXMLDOMDocument,
                                       reinterpret_cast<void **>(&document));
    TRACE_RETURN_IF_FAILED(L"CoCreateInstance", hResult);
    std::unique_ptr<char[]> text(new (std::nothrow) char[static_cast<size_t>(cbResData) + 1]);
    if (!text) {
        TRACE_FAILED(L"new", L"lpResDataWithEnd == NULL", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    memcpy(text.get(), pbResData, cbResData);
    text[cbResData] = '\0';
    wchar_t *pwszXML = nullptr;
    int cchXML = 0;
    hResult = UTF8ToUTF16(text.get(), &pwszXML, &cchXML);
    WideText xml(pwszXML);
    TRACE_RETURN_IF_FAILED(L"UTF8ToUTF16", hResult);
    Bstr bstrXML(SysAllocStringLen(xml.get(), static_cast<UINT>(cchXML)));
    if (bstrXML.Get() == nullptr) {
        TRACE_FAILED(L"SysAllocStringLen", L"NULL == bstrXML", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    VARIANT_BOOL bLoaded = VARIANT_FALSE;
    hResult = document->loadXML(bstrXML.Get(), &bLoaded);
    // A text that does not parse is a failure, whatever the call returned.
    if (SUCCEEDED(hResult) && bLoaded == VARIANT_FALSE) hResult = E_FAIL;
    if (FAILED(hResult)) TRACE_FAILED(L"loadXML", L"FAILED(hResult)", hResult);
    return hResult;
}

HRESULT GetXMLRootNode(IXMLDOMDocument *pDocument, ComRef<IXMLDOMNode> &root)
{
    TRACE_FUNCTION(L"GetXMLRootNode");
    HRESULT hResult = pDocument->get_lastChild(&root);
    if (SUCCEEDED(hResult) && root.Get() == nullptr) hResult = E_FAIL;
    if (FAILED(hResult)) TRACE_FAILED(L"get_lastChild", L"FAILED(hResult)", hResult);
    return hResult;
}

bool NameContains(IXMLDOMNode *pNode, LPCWSTR pwszName)
{
    Bstr bstrName;
    return SUCCEEDED(pNode->get_nodeName(&bstrName)) && bstrName.Get() != nullptr &&
        StrStrIW(bstrName.Get(), pwszName) != nullptr;
}

HRESULT FindChildNode(IXMLDOMNode *pParent, LPCWSTR pwszName, ComRef<IXMLDOMNode> &found)
{
    TRACE_FUNCTION(L"FindChildNode");
    ComRef<IXMLDOMNode> child;
    HRESULT hResult = pParent->get_firstChild(&child);
    while (SUCCEEDED(hResult) && child.Get() != nullptr) {
        if (NameContains(child.Get(), pwszName)) {
            found.Attach(child.Detach());
            return S_OK;
        }
        IXMLDOMNode *pNext = nullptr;
        hResult = child->get_nextSibling(&pNext);
        child.Attach(pNext);
    }
    TraceValue(L"Not found", pwszName);
    return kNodeNotFound;
}

HRESULT GetNodeValue(IXMLDOMNode *pNode, WideText &value)
{
    TRACE_FUNCTION(L"GetNodeValue");
    Bstr bstrText;
    HRESULT hResult = pNode->get_text(&bstrText);
    TRACE_RETURN_IF_FAILED(L"get_text", hResult);
    const size_t cchText = bstrText.Get() != nullptr ? SysStringLen(bstrText.Get()) : 0;
    value.reset(new (std::nothrow) wchar_t[cchText + 1]);
    if (!value) {
        TRACE_FAILED(L"new", L"NULL == pwszValue", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    if (cchText != 0) wmemcpy(value.get(), bstrText.Get(), cchText);
    value[cchText] = L'\0';
    return S_OK;
}

// Base64 text in UTF-16 decoded to bytes.
HRESULT DecodeBase64Text(LPCWSTR pwszText, Bytes &data, DWORD *pcbData)
{
    char *pszText = nullptr;
    int cbText = 0;
    HRESULT hResult = UTF16ToUTF8(pwszText, &pszText, &cbText);
    std::unique_ptr<char[]> text(pszText);
    if (FAILED(hResult)) return hResult;
    BYTE *pbData = nullptr;
    hResult = Base64DecodeEx(text.get(), cbText, &pbData, pcbData);
    data.reset(pbData);
    return hResult;
}

DWORD ReadU32(const BYTE *pb)
{
    return static_cast<DWORD>(pb[0]) | static_cast<DWORD>(pb[1]) << 8 | static_cast<DWORD>(pb[2]) << 16 |
        static_cast<DWORD>(pb[3]) << 24;
}

HRESULT RegWriteBinaryValue(LPCWSTR pwszPath, LPCWSTR pwszKeyName, const BYTE *pbData, DWORD cbData)
{
    TRACE_FUNCTION(L"RegWriteBinaryValue");
    HKEY hKey = nullptr;
    LONG nError = RegOpenKeyExW(HKEY_LOCAL_MACHINE, pwszPath, 0, KEY_ALL_ACCESS, &hKey);
    if (nError != ERROR_SUCCESS) {
        HRESULT hResult = Win32StatusFromLastError(static_cast<DWORD>(nError));
        TRACE_FAILED(L"RegOpenKeyEx", L"RegOpenKeyEx FAILED.", hResult);
        return hResult;
    }
    HKEY hSubKey = nullptr;
    wchar_t wszClass[] = L"";
    nError = RegCreateKeyExW(hKey, pwszKeyName, 0, wszClass, REG_OPTION_NON_VOLATILE, kCreateKeyAccess, nullptr,
                             &hSubKey, nullptr);
    if (nError == ERROR_SUCCESS) {
        nError = RegSetValueExW(hSubKey, L"Blob", 0, REG_BINARY, pbData, cbData);
        if (nError != ERROR_SUCCESS)
            TRACE_FAILED(L"RegSetValueEx", L"RegSetValueEx FAILED.",
                         Win32StatusFromLastError(static_cast<DWORD>(nError)));
        RegCloseKey(hSubKey);
    } else {
        TRACE_FAILED(L"RegCreateKeyEx", L"RegCreateKeyEx FAILED.",
                     Win32StatusFromLastError(static_cast<DWORD>(nError)));
    }
    RegCloseKey(hKey);
    return Win32StatusFromLastError(static_cast<DWORD>(nError));
}

HRESULT WriteCertificatetoRegistry(LPCWSTR pwszImportPath, LPCWSTR pwszEntryPoint, LPCWSTR pwszContent)
{
    TRACE_FUNCTION(L"WriteCertificatetoRegistry");
    Bytes element;
    DWORD cbElement = 0;
    HRESULT hResult = DecodeBase64Text(pwszContent, element, &cbElement);
    TRACE_RETURN_IF_FAILED(L"Base64DecodeEx", hResult);
    hResult = RegWriteBinaryValue(pwszImportPath, pwszEntryPoint, element.get(), cbElement);
    if (FAILED(hResult)) TRACE_FAILED(L"RegWriteBinaryValue", L"FAILED(hResult)", hResult);
    return hResult;
}

struct RegisteredCertificateInfo {
    WideText importPath;
    WideText entryPoint;
    WideText content;
};

HRESULT GetRegisteredCertificateInfoNode(IXMLDOMNode *pCertificateNode, RegisteredCertificateInfo &info)
{
    TRACE_FUNCTION(L"GetRegisteredCertificateInfoNode");
    ComRef<IXMLDOMNodeList> children;
    long nChildren = 0;
    HRESULT hResult = pCertificateNode->get_childNodes(&children);
    if (SUCCEEDED(hResult)) hResult = children->get_length(&nChildren);
    TRACE_RETURN_IF_FAILED(L"get_childNodes", hResult);
    if (nChildren < 3) {
        TRACE_FAILED(L"Check child nodes", L"the number of RegeditInfo Child Node is error!", VESK_E_XML_NODE);
        return VESK_E_XML_NODE;
    }
    WideText *const fields[] = {&info.importPath, &info.entryPoint, &info.content};
    for (long i = 0; i < 3; ++i) {
        ComRef<IXMLDOMNode> child;
        hResult = children->get_item(i, &child);
        if (SUCCEEDED(hResult) && child.Get() == nullptr) hResult = E_FAIL;
        if (SUCCEEDED(hResult)) hResult = GetNodeValue(child.Get(), *fields[i]);
        TRACE_RETURN_IF_FAILED(L"GetNodeValue", hResult);
    }
    return S_OK;
}

HRESULT ParseCertificateNode(const FILETIME *pftMachineTime, IXMLDOMNode *pCertificateNode)
{
    TRACE_FUNCTION(L"ParseCertificateNode");
    RegisteredCertificateInfo info;
    HRESULT hResult = GetRegisteredCertificateInfoNode(pCertificateNode, info);
    TRACE_RETURN_IF_FAILED(L"GetRegisteredCertificateInfoNode", hResult);
    BYTE *pbCert = nullptr;
    DWORD cbCert = 0;
    hResult = GetCertFromCertificateBlobProperties(info.content.get(), &pbCert, &cbCert);
    Bytes certificate(pbCert);
    TRACE_RETURN_IF_FAILED(L"GetCertFromCertificateBlobProperties", hResult);
    PCCERT_CONTEXT pCertContext = CertCreateCertificateContext(kCertEncoding, pbCert, cbCert);
    if (pCertContext == nullptr) {
        hResult = FailedCallStatus();
        TRACE_FAILED(L"CertCreateCertificateContext", L"NULL == pCertContext", hResult);
        return hResult;
    }
    BOOL bExpired = FALSE;
    hResult = CheckCertValidTime(pftMachineTime, pCertContext, &bExpired);
    CertFreeCertificateContext(pCertContext);
    TRACE_RETURN_IF_FAILED(L"CheckCertValidTime", hResult);
    if (bExpired) return S_OK;
    hResult = WriteCertificatetoRegistry(info.importPath.get(), info.entryPoint.get(), info.content.get());
    if (FAILED(hResult)) TRACE_FAILED(L"WriteCertificatetoRegistry", L"FAILED(hResult)", hResult);
    return hResult;
}

HRESULT ParseRootCACertificateNode(IXMLDOMNode *pRootCACertificateNode)
{
    TRACE_FUNCTION(L"ParseRootCACertificateNode");
    if (pRootCACertificateNode == nullptr) {
        TRACE_FAILED(L"Check parameters", L"pRootCACertificateNode == NULL", E_INVALIDARG);
        return E_INVALIDARG;
    }
    ComRef<IXMLDOMNodeList> children;
    long nChildren = 0;
    HRESULT hResult = pRootCACertificateNode->get_childNodes(&children);
    if (SUCCEEDED(hResult)) hResult = children->get_length(&nChildren);
    TRACE_RETURN_IF_FAILED(L"get_childNodes", hResult);
    FILETIME ftMachineTime = {};
    hResult = GetMachineTime(&ftMachineTime);
    TRACE_RETURN_IF_FAILED(L"GetMachineTime", hResult);
    for (long i = 0; i < nChildren; ++i) {
        ComRef<IXMLDOMNode> child;
        hResult = children->get_item(i, &child);
        if (FAILED(hResult) || child.Get() == nullptr) {
            hResult = FAILED(hResult) ? hResult : E_FAIL;
            TRACE_FAILED(L"get_item", L"FAILED(hResult)", hResult);
            return hResult;
        }
        TraceStatus(L"ParseCertificateNode", ParseCertificateNode(&ftMachineTime, child.Get()));
    }
    return S_OK;
}

// Writes the store's changes to the registry now rather than whenever the
// last reference to the store goes.
void CommitStore(HCERTSTORE hStore)
{
    static const wchar_t *const kTraceFunction = L"CommitStore";
    if (!CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr))
        TRACE_FAILED(L"CertControlStore", L"FALSE == bResult", FailedCallStatus());
}

bool IsSelfIssued(PCCERT_CONTEXT pCertContext)
{
    const CERT_NAME_BLOB &issuer = pCertContext->pCertInfo->Issuer;
    const CERT_NAME_BLOB &subject = pCertContext->pCertInfo->Subject;
    return issuer.cbData == subject.cbData && memcmp(issuer.pbData, subject.pbData, issuer.cbData) == 0;
}

HRESULT AddCACertficatetoStore(HCERTSTORE hCertStore)
{
    TRACE_FUNCTION(L"AddCACertficatetoStore");
    if (hCertStore == nullptr) {
        TRACE_FAILED(L"Check parameters", L"hCertStore == NULL", E_INVALIDARG);
        return E_INVALIDARG;
    }
    HCERTSTORE hCAStore =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, kCertEncoding, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"CA");
    if (hCAStore == nullptr) {
        HRESULT hResult = FailedCallStatus();
        TRACE_FAILED(L"CertOpenStore", L"hCAStore == NULL", hResult);
        return hResult;
    }
    FILETIME ftMachineTime = {};
    GetMachineTime(&ftMachineTime);
    HRESULT hResult = S_OK;
    PCCERT_CONTEXT pCertContext = nullptr;
    while ((pCertContext = CertEnumCertificatesInStore(hCertStore, pCertContext)) != nullptr) {
        BOOL bExpired = FALSE;
        CheckCertValidTime(&ftMachineTime, pCertContext, &bExpired);
        if (bExpired || IsSelfIssued(pCertContext)) continue;
        if (CertAddCertificateContextToStore(hCAStore, pCertContext, CERT_STORE_ADD_NEW, nullptr)) continue;
        HRESULT hAddResult = FailedCallStatus();
        if (hAddResult == CRYPT_E_EXISTS) continue;
        TRACE_FAILED(L"CertAddCertificateContextToStore", L"FALSE == bResult", hAddResult);
        hResult = hAddResult;
        CertFreeCertificateContext(pCertContext);
        break;
    }
    CommitStore(hCAStore);
    CertCloseStore(hCAStore, 0);
    return hResult;
}

HRESULT ImportP7bCertificatestoStore(const BYTE *pbCertData, DWORD cbCertData, HCERTSTORE *phCertStore)
{
    TRACE_FUNCTION(L"ImportP7bCertificatestoStore");
    if (pbCertData == nullptr || cbCertData == 0) {
        TRACE_FAILED(L"Check parameters", L"pCertData == NULL||dwCertDataSize <=0", E_INVALIDARG);
        return E_INVALIDARG;
    }
    CRYPT_DATA_BLOB stBlob = {cbCertData, const_cast<BYTE *>(pbCertData)};
    *phCertStore = CertOpenStore(CERT_STORE_PROV_PKCS7, kCertEncoding, 0, CERT_STORE_READONLY_FLAG, &stBlob);
    if (*phCertStore == nullptr) {
        HRESULT hResult = FailedCallStatus();
        TRACE_FAILED(L"CertOpenStore", L"hCertStore == NULL", hResult);
        return hResult;
    }
    return S_OK;
}

HRESULT ParseP7bContentNode(IXMLDOMNode *pP7bContentNode)
{
    TRACE_FUNCTION(L"ParseP7bContentNode");
    if (pP7bContentNode == nullptr) {
        TRACE_FAILED(L"Check parameters", L"pP7bContentNode == NULL", E_INVALIDARG);
        return E_INVALIDARG;
    }
    WideText content;
    HRESULT hResult = GetNodeValue(pP7bContentNode, content);
    TRACE_RETURN_IF_FAILED(L"GetNodeValue", hResult);
    Bytes bundle;
    DWORD cbBundle = 0;
    hResult = DecodeBase64Text(content.get(), bundle, &cbBundle);
    TRACE_RETURN_IF_FAILED(L"Base64DecodeEx", hResult);
    HCERTSTORE hBundleStore = nullptr;
    hResult = ImportP7bCertificatestoStore(bundle.get(), cbBundle, &hBundleStore);
    TRACE_RETURN_IF_FAILED(L"ImportP7bCertificatestoStore", hResult);
    hResult = AddCACertficatetoStore(hBundleStore);
    if (FAILED(hResult)) TRACE_FAILED(L"AddCACertficatetoStore", L"FAILED(hResult)", hResult);
    CertCloseStore(hBundleStore, 0);
    return hResult;
}

HRESULT ImportCertChainfromXMLDOMDoc(IXMLDOMDocument *pDocument)
{
    TRACE_FUNCTION(L"ImportCertChainfromXMLDOMDoc");
    ComRef<IXMLDOMNode> root;
    HRESULT hResult = GetXMLRootNode(pDocument, root);
    TRACE_RETURN_IF_FAILED(L"GetXMLRootNode", hResult);
    ComRef<IXMLDOMNode> rootCA;
    FindChildNode(root.Get(), L"RootCACertificate", rootCA);
    hResult = ParseRootCACertificateNode(rootCA.Get());
    TRACE_RETURN_IF_FAILED(L"ParseRootCACertificateNode", hResult);
    ComRef<IXMLDOMNode> bundle;
    FindChildNode(root.Get(), L"P7bContent", bundle);
    hResult = ParseP7bContentNode(bundle.Get());
    if (FAILED(hResult)) TRACE_FAILED(L"ParseP7bContentNode", L"FAILED(hResult)", hResult);
    return hResult;
}

} // namespace

HRESULT GetCertFromCertificateBlobProperties(LPCWSTR pwszContent, BYTE **ppbCert, DWORD *pcbCert)
{
    TRACE_FUNCTION(L"GetCertFromCertificateBlobProperties");
    *ppbCert = nullptr;
    *pcbCert = 0;
    Bytes element;
    DWORD cbElement = 0;
    HRESULT hResult = DecodeBase64Text(pwszContent, element, &cbElement);
    TRACE_RETURN_IF_FAILED(L"Base64DecodeEx", hResult);
    // Records of id, reserved word, length and value, until property 32.
    unsigned long long nPos = 0, nPreviousLen = 0, nLen = 0;
    DWORD dwPropertyID = 0;
    while (nPos + nPreviousLen < cbElement) {
        nPos += nPreviousLen;
        if (nPos + kPropertyHeaderSize > cbElement) {
            TRACE_FAILED(L"Read property", L"dwCurentPos + nLen > dwRegInfoSize", E_FAIL);
            return E_FAIL;
        }
        dwPropertyID = ReadU32(element.get() + nPos) & 0xFFFFFF;
        nLen = ReadU32(element.get() + nPos + 8) & 0xFFFFFF;
        nPos += kPropertyHeaderSize;
        if (dwPropertyID == kCertificatePropertyID) break;
        nPreviousLen = nLen;
    }
    if (nPos + nLen > cbElement) {
        TRACE_FAILED(L"Read property", L"dwCurentPos + nLen > dwRegInfoSize", E_FAIL);
        return E_FAIL;
    }
    if (dwPropertyID != kCertificatePropertyID) {
        TRACE_FAILED(L"Read property", L"nPropertyID != 32", E_FAIL);
        return E_FAIL;
    }
    BYTE *pbCert = new (std::nothrow) BYTE[nLen + 1];
    if (pbCert == nullptr) {
        TRACE_FAILED(L"new", L"NULL == pbCert", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    memcpy(pbCert, element.get() + nPos, static_cast<size_t>(nLen));
    *ppbCert = pbCert;
    *pcbCert = static_cast<DWORD>(nLen);
    return S_OK;
}

HRESULT ImportCertificateChainfromBlobData(const BYTE *pbResData, DWORD cbResData)
{
    TRACE_FUNCTION(L"ImportCertificateChainfromBlobData");
    ComRef<IXMLDOMDocument> document;
    HRESULT hResult = LoadXMLDom(pbResData, cbResData, document);
    TRACE_RETURN_IF_FAILED(L"LoadXMLDom", hResult);
    hResult = ImportCertChainfromXMLDOMDoc(document.Get());
    if (FAILED(hResult)) TRACE_FAILED(L"ImportCertChainfromXMLDOMDoc", L"FAILED(hResult)", hResult);
    return hResult;
}

HRESULT ImportCertificateChainfromResoure(WORD wResourceID)
{
    TRACE_FUNCTION(L"ImportCertificateChainfromResoure");
    Bytes data;
    DWORD cbData = 0;
    HRESULT hResult = LoadModuleResource(g_hPluginInstance, wResourceID, data, &cbData);
    TRACE_RETURN_IF_FAILED(L"LoadModuleResource", hResult);
    hResult = ImportCertificateChainfromBlobData(data.get(), cbData);
    if (FAILED(hResult)) TRACE_FAILED(L"ImportCertificateChainfromBlobData", L"FAILED(hResult)", hResult);
    return hResult;
}
