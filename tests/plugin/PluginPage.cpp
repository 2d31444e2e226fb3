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

void PluginPage::SetUp()
{
    char szMIMEType[] = "application/npSigwell";
    ASSERT_EQ(NPERR_NO_ERROR, s_pluginFuncs.newp(szMIMEType, &m_instance, 1, 0, nullptr, nullptr, nullptr));
    ASSERT_EQ(NPERR_NO_ERROR, s_pluginFuncs.getvalue(&m_instance, NPPVpluginScriptableNPObject, &m_pObject));
    ASSERT_NE(nullptr, m_pObject);
}

void PluginPage::TearDown()
{
    if (m_pObject != nullptr) s_browserFuncs.releaseobject(m_pObject);
    EXPECT_EQ(NPERR_NO_ERROR, s_pluginFuncs.destroy(&m_instance, nullptr));
}
