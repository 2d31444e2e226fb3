#include "CryptOperations.h"

#include <msxml2.h>
#include <objbase.h>
#include <oleauto.h>

#include <vector>

namespace {

constexpr std::uint32_t kMaxXmlChars = 0x20000;
constexpr UINT kMaxFieldChars = 255;

// DOMDocument 3.0 and IXMLDOMDocument2.
constexpr CLSID kDomDocument30 = {0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
constexpr IID kDomDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

template <class T>
struct ComPtr {
    T* p = nullptr;
    ~ComPtr()
    {
        if (p) p->Release();
    }
};

struct Bstr {
    BSTR s = nullptr;
    ~Bstr() { SysFreeString(s); }
};

// The first child of parent whose name without prefix is name, ignoring case.
bool FindChild(IXMLDOMNode* parent, const wchar_t* name, ComPtr<IXMLDOMNode>& found)
{
    ComPtr<IXMLDOMNodeList> children;
    long count = 0;
    if (FAILED(parent->get_childNodes(&children.p)) || !children.p || FAILED(children.p->get_length(&count)))
        return false;
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> child;
        Bstr baseName;
        if (FAILED(children.p->get_item(i, &child.p)) || !child.p) continue;
        if (SUCCEEDED(child.p->get_baseName(&baseName.s)) && baseName.s && lstrcmpiW(baseName.s, name) == 0) {
            found.p = child.p;
            child.p = nullptr;
            return true;
        }
    }
    return false;
}

DWORD CheckFields(IXMLDOMNode* fields)
{
    ComPtr<IXMLDOMNodeList> children;
    long count = 0;
    if (FAILED(fields->get_childNodes(&children.p)) || !children.p || FAILED(children.p->get_length(&count))) {
        return kSignedXmlUnreadable;
    }
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> child;
        Bstr text;
        if (FAILED(children.p->get_item(i, &child.p)) || !child.p) return kSignedXmlUnreadable;
        if (FAILED(child.p->get_text(&text.s)) || !text.s || SysStringLen(text.s) == 0) return kSignedXmlEmptyField;
        if (SysStringLen(text.s) > kMaxFieldChars) return kSignedXmlFieldTooLong;
    }
    return kSignedXmlPassed;
}

DWORD CheckDocument(const std::vector<wchar_t>& text)
{
    ComPtr<IXMLDOMDocument2> document;
    if (FAILED(CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kDomDocument2,
                                reinterpret_cast<void**>(&document.p))) ||
        !document.p) {
        return kSignedXmlUnreadable;
    }
    document.p->put_async(VARIANT_TRUE);
    VARIANT xpath;
    VariantInit(&xpath);
    xpath.vt = VT_BSTR;
    xpath.bstrVal = SysAllocString(L"XPath");
    Bstr property;
    property.s = SysAllocString(L"SelectionLanguage");
    document.p->setProperty(property.s, xpath);
    VariantClear(&xpath);
    document.p->put_preserveWhiteSpace(VARIANT_TRUE);
    Bstr source;
    source.s = SysAllocString(text.data());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(document.p->loadXML(source.s, &loaded)) || loaded != VARIANT_TRUE) return kSignedXmlUnreadable;
    ComPtr<IXMLDOMNode> top, fields;
    if (!FindChild(document.p, L"T", top) || !FindChild(top.p, L"D", fields)) return kSignedXmlUnreadable;
    return CheckFields(fields.p);
}

} // namespace

DWORD ParseSignedXml(const std::uint8_t* data, std::uint32_t length)
{
    HRESULT com = CoInitialize(nullptr);
    std::vector<wchar_t> text(kMaxXmlChars + 1, L'\0');
    int chars = length ? MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(data), static_cast<int>(length),
                                             text.data(), static_cast<int>(kMaxXmlChars))
                       : 0;
    DWORD result = chars > 0 ? CheckDocument(text) : kSignedXmlUnreadable;
    if (SUCCEEDED(com)) CoUninitialize();
    return result;
}
