// The plug-in's exports, its per-instance handlers and the script
// interface as a hostile page may call it.
#include "PluginPage.h"
#include "resource.h"

#include <cstring>
#include <string>
#include <vector>

using namespace testbrowser;

namespace {

using EntryPoints = LoadedPlugin;

TEST_F(EntryPoints, PluginTableMustReachSetValue)
{
    NPPluginFuncs funcs = {};
    funcs.size = 59;
    EXPECT_EQ(NPERR_INVALID_FUNCTABLE_ERROR, s_library.GetEntryPoints(&funcs));
    EXPECT_EQ(0, funcs.version);
    EXPECT_EQ(nullptr, funcs.newp);
    EXPECT_EQ(NPERR_INVALID_FUNCTABLE_ERROR, s_library.GetEntryPoints(nullptr));

    funcs.size = 60;
    ASSERT_EQ(NPERR_NO_ERROR, s_library.GetEntryPoints(&funcs));
    EXPECT_EQ(22, funcs.version);
    EXPECT_EQ(60, funcs.size);
    EXPECT_NE(nullptr, funcs.newp);
    EXPECT_NE(nullptr, funcs.getvalue);
    EXPECT_NE(nullptr, funcs.setvalue);
    EXPECT_EQ(nullptr, funcs.javaClass);
    EXPECT_EQ(nullptr, funcs.gotfocus);
}

TEST_F(EntryPoints, BrowserTableVersionAndSizeAreChecked)
{
    NPNetscapeFuncs funcs = BrowserFuncs();
    funcs.version = 0x0100;
    EXPECT_EQ(NPERR_INCOMPATIBLE_VERSION_ERROR, s_library.Initialize(&funcs));
    funcs.version = 0x0016;
    funcs.size = 195;
    EXPECT_EQ(NPERR_INVALID_FUNCTABLE_ERROR, s_library.Initialize(&funcs));
    EXPECT_EQ(NPERR_INVALID_FUNCTABLE_ERROR, s_library.Initialize(nullptr));
    funcs.size = 196;
    EXPECT_EQ(NPERR_NO_ERROR, s_library.Initialize(&s_browserFuncs));
}

TEST_F(EntryPoints, MIMEDescription)
{
    EXPECT_STREQ("application/npSigwell:*:npSigwell certificate utilities", s_library.GetMIMEDescription());
}

// What the browser reads to register the plug-in.
TEST_F(EntryPoints, VersionResource)
{
    wchar_t wszPath[MAX_PATH] = {};
    ASSERT_NE(0u, GetModuleFileNameW(s_library.hModule, wszPath, MAX_PATH));
    DWORD dwHandle = 0;
    std::vector<BYTE> info(GetFileVersionInfoSizeW(wszPath, &dwHandle));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(wszPath, 0, static_cast<DWORD>(info.size()), info.data()));
    auto text = [&](const wchar_t *pwszName) {
        wchar_t *pwszValue = nullptr;
        UINT cch = 0;
        std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + pwszName;
        if (!VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void **>(&pwszValue), &cch))
            return std::wstring(L"(none)");
        return std::wstring(pwszValue);
    };
    EXPECT_EQ(L"application/npSigwell", text(L"MIMEType"));
    EXPECT_EQ(L"*", text(L"FileExtents"));
    EXPECT_EQ(L"VESK Sigwell Lorvin 3.0", text(L"FileOpenName"));
    VS_FIXEDFILEINFO *pFixed = nullptr;
    UINT cbFixed = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void **>(&pFixed), &cbFixed));
    EXPECT_EQ(0x00030004u, pFixed->dwFileVersionMS);
    EXPECT_EQ(0x00000006u, pFixed->dwFileVersionLS);
    EXPECT_EQ(0x00030004u, pFixed->dwProductVersionMS);
}

TEST_F(EntryPoints, HandlersRefuseANullInstance)
{
    char szMIMEType[] = "application/npSigwell";
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, s_pluginFuncs.newp(szMIMEType, nullptr, 1, 0, nullptr, nullptr, nullptr));
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, s_pluginFuncs.destroy(nullptr, nullptr));
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, s_pluginFuncs.setwindow(nullptr, nullptr));
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, s_pluginFuncs.getvalue(nullptr, 1, nullptr));
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, s_pluginFuncs.setvalue(nullptr, 1, nullptr));
    EXPECT_EQ(0, s_pluginFuncs.event(nullptr, nullptr));

    NPP_t instance = {};
    void *pValue = nullptr;
    EXPECT_EQ(NPERR_GENERIC_ERROR, s_pluginFuncs.getvalue(&instance, 1, &pValue));
}

TEST_F(PluginPage, ValuesAndStreams)
{
    const char *pszName = nullptr;
    ASSERT_EQ(NPERR_NO_ERROR, s_pluginFuncs.getvalue(&m_instance, NPPVpluginNameString, &pszName));
    EXPECT_STREQ("NPRuntimeTest", pszName);
    const char *pszDescription = nullptr;
    ASSERT_EQ(NPERR_NO_ERROR, s_pluginFuncs.getvalue(&m_instance, NPPVpluginDescriptionString, &pszDescription));
    EXPECT_STREQ("NPRuntime scriptability API test plugin", pszDescription);
    NPBool bXEmbed = 0;
    ASSERT_EQ(NPERR_NO_ERROR, s_pluginFuncs.getvalue(&m_instance, NPPVpluginNeedsXEmbed, &bXEmbed));
    EXPECT_EQ(1, bXEmbed);
    NPBool bWindow = 7;
    EXPECT_EQ(NPERR_GENERIC_ERROR, s_pluginFuncs.getvalue(&m_instance, NPPVpluginWindowBool, &bWindow));
    EXPECT_EQ(7, bWindow);

    EXPECT_EQ(268435455, s_pluginFuncs.writeready(&m_instance, nullptr));
    char abData[1000] = {};
    EXPECT_EQ(1000, s_pluginFuncs.write(&m_instance, nullptr, 0, 1000, abData));
    EXPECT_EQ(0, s_pluginFuncs.event(&m_instance, nullptr));
}

TEST_F(PluginPage, OneObjectPerInstanceWithAReferencePerAnswer)
{
    NPObject *pAgain = nullptr;
    ASSERT_EQ(NPERR_NO_ERROR, s_pluginFuncs.getvalue(&m_instance, NPPVpluginScriptableNPObject, &pAgain));
    EXPECT_EQ(m_pObject, pAgain);
    EXPECT_EQ(3u, m_pObject->referenceCount);
    s_browserFuncs.releaseobject(pAgain);

    NPP_t other = {};
    char szMIMEType[] = "application/npSigwell";
    ASSERT_EQ(NPERR_NO_ERROR, s_pluginFuncs.newp(szMIMEType, &other, 1, 0, nullptr, nullptr, nullptr));
    NPObject *pOther = nullptr;
    ASSERT_EQ(NPERR_NO_ERROR, s_pluginFuncs.getvalue(&other, NPPVpluginScriptableNPObject, &pOther));
    EXPECT_NE(m_pObject, pOther);
    // The instance goes first; the page's reference keeps the object.
    EXPECT_EQ(NPERR_NO_ERROR, s_pluginFuncs.destroy(&other, nullptr));
    EXPECT_EQ(1u, pOther->referenceCount);
    EXPECT_TRUE(Call(pOther, "GetVersion", {}).IsText("3.4.0.6"));
    s_browserFuncs.releaseobject(pOther);
}

TEST_F(PluginPage, NamesAndProperties)
{
    NPClass *pClass = m_pObject->_class;
    EXPECT_EQ(3u, pClass->structVersion);
    EXPECT_TRUE(pClass->hasMethod(m_pObject, Identifier("SelectCertificate")));
    EXPECT_TRUE(pClass->hasMethod(m_pObject, Identifier("GetLastErrorDesc")));
    EXPECT_FALSE(pClass->hasMethod(m_pObject, Identifier("selectcertificate")));
    EXPECT_FALSE(pClass->hasProperty(m_pObject, Identifier("GetVersion")));
    NPVariant value = Null();
    EXPECT_FALSE(pClass->getProperty(m_pObject, Identifier("version"), &value));
    EXPECT_FALSE(pClass->setProperty(m_pObject, Identifier("version"), &value));
    EXPECT_FALSE(pClass->removeProperty(m_pObject, Identifier("version")));
    NPIdentifier *pIds = nullptr;
    uint32_t nIds = 0;
    EXPECT_FALSE(pClass->enumerate(m_pObject, &pIds, &nIds));
    EXPECT_FALSE(pClass->construct(m_pObject, nullptr, 0, &value));

    CallResult unknown = Call(m_pObject, "selectcertificate", {Str(""), Str(""), Str(""), Str("")});
    EXPECT_FALSE(unknown.bReturned);
    EXPECT_EQ(NPVariantType_Void, unknown.type);
    EXPECT_TRUE(CallDefault(m_pObject).IsText("default method return val"));
}

TEST_F(PluginPage, VersionTakesNoArguments)
{
    CallResult version = Call(m_pObject, "GetVersion", {});
    EXPECT_TRUE(version.bReturned);
    EXPECT_TRUE(version.IsText("3.4.0.6"));
    CallResult refused = Call(m_pObject, "GetVersion", {Str("x")});
    EXPECT_FALSE(refused.bReturned);
    EXPECT_TRUE(refused.IsNull());
}

// Every method with argument lists of the wrong count or types: refused
// without a crash, a null result (false for SelectCertificate).
TEST_F(PluginPage, WrongArgumentsAreRefused)
{
    const std::vector<std::pair<const char *, std::vector<NPVariant>>> calls = {
        {"SelectCertificate", {Str(""), Str(""), Str("")}},
        {"SelectCertificate", {Str(""), Str(""), Str(""), Int(4)}},
        {"SelectCertificate", {Str(""), Str(""), Str(""), Str(""), Str("")}},
        {"GetSignCertInfo", {}},
        {"GetSignCertInfo", {Bool(true)}},
        {"SignMsgPKCS1", {Str("data")}},
        {"SignMsgPKCS1", {Str("data"), Null()}},
        {"SignMsgPKCS7", {Str("data"), Str(""), Str("true")}},
        {"SignMsgPKCS7", {Str("data"), Dbl(1.5), Bool(true)}},
        {"SignMsgPKCS7", {Str("data"), Str("")}},
        {"GetMACAddress", {Str("x")}},
        {"GetKeyID", {Int(1)}},
        {"GetKeyID", {}},
        {"GetLastErrorDesc", {Null()}},
    };
    for (const auto &call : calls) {
        CallResult outcome = Call(m_pObject, call.first, call.second);
        EXPECT_FALSE(outcome.bReturned) << call.first << " with " << call.second.size();
        if (std::string(call.first) == "SelectCertificate")
            EXPECT_TRUE(outcome.IsBool(false)) << call.second.size();
        else
            EXPECT_TRUE(outcome.IsNull()) << call.first << " with " << call.second.size();
    }
}

TEST_F(PluginPage, RefusedCallsLeaveTheAgentsLastError)
{
    CallResult info = Call(m_pObject, "GetSignCertInfo", {Str("SubjectCN")});
    EXPECT_FALSE(info.bReturned);
    CallResult before = Call(m_pObject, "GetLastErrorDesc", {});
    ASSERT_TRUE(before.bReturned);
    EXPECT_NE(std::string::npos, before.text.find("0xa0072001")) << before.text;

    EXPECT_FALSE(Call(m_pObject, "SignMsgPKCS7", {Str("x"), Str(""), Str("true")}).bReturned);
    EXPECT_TRUE(Call(m_pObject, "GetLastErrorDesc", {}).IsText(before.text));
}

// Large texts and texts with NULs pass through the copies without harm;
// without a selected certificate the agent refuses them.
TEST_F(PluginPage, HugeStringsFailCleanly)
{
    const std::string huge(8 * 1024 * 1024, 'A');
    const std::string withNul("Sub\0jectCN", 10);
    EXPECT_FALSE(Call(m_pObject, "SignMsgPKCS1", {Str(huge), Str("SHA-256")}).bReturned);
    EXPECT_FALSE(Call(m_pObject, "SignMsgPKCS7", {Str(huge), Str(huge), Bool(false)}).bReturned);
    EXPECT_FALSE(Call(m_pObject, "GetSignCertInfo", {Str(huge)}).bReturned);
    EXPECT_FALSE(Call(m_pObject, "GetSignCertInfo", {Str(withNul)}).bReturned);
    EXPECT_TRUE(Call(m_pObject, "SelectCertificate", {Str(huge), Str(huge), Str(""), Str(huge)}).IsBool(false));
    EXPECT_TRUE(Call(m_pObject, "GetLastErrorDesc", {}).bReturned);
}

// The agent's selection dialog loads its template, texts and row images
// from the module that holds its code: the plug-in's own.
TEST_F(LoadedPlugin, LibraryCarriesTheSelectionDialog)
{
    const HMODULE module = s_library.hModule;
    EXPECT_NE(nullptr, FindResourceW(module, MAKEINTRESOURCEW(IDD_SELECT_CERTIFICATE), RT_DIALOG));
    for (UINT id : {IDP_SYSTEM_CERTIFICATE, IDP_KEY_CERTIFICATE, IDP_CERTIFICATE_FRAME})
        EXPECT_NE(nullptr, FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG")) << id;
    wchar_t wszText[128];
    for (UINT id : {IDS_SELECT_CERTIFICATE, IDS_ISSUER_FORMAT, IDS_SERIAL_FORMAT, IDS_VALIDITY_FORMAT})
        EXPECT_GT(LoadStringW(module, id, wszText, 128), 0) << id;
}

TEST_F(PluginPage, BrowserAllocatorFailure)
{
    const long nBefore = OutstandingAllocations();
    FailAllocations(true);
    CallResult version = Call(m_pObject, "GetVersion", {});
    CallResult lastError = Call(m_pObject, "GetLastErrorDesc", {});
    CallResult byDefault = CallDefault(m_pObject);
    FailAllocations(false);
    // No answer without memory for it, and the page can ask why.
    EXPECT_FALSE(version.bReturned);
    EXPECT_TRUE(version.IsNull());
    CallResult why = Call(m_pObject, "GetLastErrorDesc", {});
    EXPECT_NE(std::string::npos, why.text.find("(0x8007000e)")) << why.text;
    EXPECT_FALSE(lastError.bReturned);
    EXPECT_TRUE(lastError.IsNull());
    EXPECT_FALSE(byDefault.bReturned);
    EXPECT_EQ(NPVariantType_Void, byDefault.type);
    EXPECT_EQ(nBefore, OutstandingAllocations());
}

} // namespace
