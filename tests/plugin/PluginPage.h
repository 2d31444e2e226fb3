// The plug-in loaded once per test program, and a page with one instance
// of it whose scriptable object the tests call.
#pragma once

#include "TestBrowser.h"

#include <gtest/gtest.h>

class LoadedPlugin : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static testbrowser::PluginLibrary s_library;
    static NPPluginFuncs s_pluginFuncs;
    static NPNetscapeFuncs s_browserFuncs;
};

class PluginPage : public LoadedPlugin {
protected:
    void SetUp() override;
    void TearDown() override;

    // An instance on the page, and its scriptable object.
    static NPObject *NewInstance(NPP_t &instance);
    static void DestroyInstance(NPP_t &instance, NPObject *pObject);

    NPP_t m_instance = {};
    NPObject *m_pObject = nullptr;
};
