#include "PluginPage.h"

testbrowser::PluginLibrary LoadedPlugin::s_library;
NPPluginFuncs LoadedPlugin::s_pluginFuncs;
NPNetscapeFuncs LoadedPlugin::s_browserFuncs;

void LoadedPlugin::SetUpTestSuite()
{
    if (s_library.hModule == nullptr) {
        ASSERT_TRUE(s_library.Load(L"npSigwell.dll"));
    }
    s_pluginFuncs = {};
    s_pluginFuncs.size = sizeof(s_pluginFuncs);
    ASSERT_EQ(NPERR_NO_ERROR, s_library.GetEntryPoints(&s_pluginFuncs));
    s_browserFuncs = testbrowser::BrowserFuncs();
    ASSERT_EQ(NPERR_NO_ERROR, s_library.Initialize(&s_browserFuncs));
}

NPObject *PluginPage::NewInstance(NPP_t &instance)
{
    char szMIMEType[] = "application/npSigwell";
    NPObject *pObject = nullptr;
    EXPECT_EQ(NPERR_NO_ERROR, s_pluginFuncs.newp(szMIMEType, &instance, 1, 0, nullptr, nullptr, nullptr));
    EXPECT_EQ(NPERR_NO_ERROR, s_pluginFuncs.getvalue(&instance, NPPVpluginScriptableNPObject, &pObject));
    return pObject;
}

void PluginPage::DestroyInstance(NPP_t &instance, NPObject *pObject)
{
    if (pObject != nullptr) s_browserFuncs.releaseobject(pObject);
    EXPECT_EQ(NPERR_NO_ERROR, s_pluginFuncs.destroy(&instance, nullptr));
}

void PluginPage::SetUp()
{
    m_pObject = NewInstance(m_instance);
    ASSERT_NE(nullptr, m_pObject);
}

void PluginPage::TearDown()
{
    DestroyInstance(m_instance, m_pObject);
}
