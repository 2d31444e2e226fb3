// Page script selecting the test provider's SM2 certificate through the
// plug-in, reading its fields and signing; OpenSSL checks the signatures.
#include "PluginPage.h"
#include "SignatureChecks.h"
#include "TestCspSetup.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

using namespace testbrowser;
using testcsp::FromBase64;
using testcsp::VerifySM2;

namespace {

const wchar_t kProvider[] = L"Sigwell Plugin Test CSP";
const char kProviderName[] = "Sigwell Plugin Test CSP";

std::vector<unsigned char> ReadBeside(const std::string &relativePath)
{
    std::ifstream in(testcsp::BesideProgram(relativePath), std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Page script that runs while the provider's PIN dialog pumps the page's
// thread, as a page timer firing then would.
LRESULT CALLBACK RunPageScript(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg != WM_APP) return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    (*reinterpret_cast<std::function<void()> *>(lParam))();
    return 0;
}

class ScriptOnTestProvider : public PluginPage {
protected:
    static void SetUpTestSuite()
    {
        PluginPage::SetUpTestSuite();
        s_provider = new testcsp::RegisteredProvider(kProvider);
    }
    static void TearDownTestSuite()
    {
        delete s_provider;
        s_provider = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_provider->IsRegistered());
        m_config.Clear();
        m_config.AddTestKey(kProviderName, "alice", "sm2.der");
        ASSERT_TRUE(m_config.Write());
        PluginPage::SetUp();
    }

    CallResult Select(NPObject *pObject)
    {
        return Call(pObject, "SelectCertificate", {Str(""), Str(""), Str(""), Str(kProviderName)});
    }

    // A PKCS#7 signature whose PIN dialog runs the script.
    CallResult SignWhilePageScriptRuns(const std::string &message, std::function<void()> script)
    {
        m_config.Clear();
        m_config.AddTestKey(kProviderName, "alice", "sm2.der", "pump");
        EXPECT_TRUE(m_config.Write());
        EXPECT_TRUE(Select(m_pObject).IsBool(true));
        HWND hPage = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        EXPECT_NE(nullptr, hPage);
        SetWindowLongPtrW(hPage, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RunPageScript));
        PostMessageW(hPage, WM_APP, 0, reinterpret_cast<LPARAM>(&script));
        CallResult signature = Call(m_pObject, "SignMsgPKCS7", {Str(message), Str(""), Bool(true)});
        DestroyWindow(hPage);
        return signature;
    }

    static testcsp::RegisteredProvider *s_provider;
    testcsp::ProviderConfigFile m_config {"plugin_provider.cfg"};
};

testcsp::RegisteredProvider *ScriptOnTestProvider::s_provider = nullptr;

TEST_F(ScriptOnTestProvider, SelectReadAndSignPKCS1)
{
    CallResult selected = Select(m_pObject);
    ASSERT_TRUE(selected.bReturned);
    EXPECT_TRUE(selected.IsBool(true));
    EXPECT_TRUE(Call(m_pObject, "GetSignCertInfo", {Str("SubjectCN")}).IsText("Alice Signer"));
    EXPECT_TRUE(Call(m_pObject, "GetSignCertInfo", {Str("CertType")}).IsText("SM2"));

    const std::string message = "\xe4\xbd\xa0\xe5\xa5\xbd, plug-in";
    CallResult signature = Call(m_pObject, "SignMsgPKCS1", {Str(message), Str("")});
    ASSERT_TRUE(signature.bReturned);
    ASSERT_EQ(NPVariantType_String, signature.type);
    EXPECT_TRUE(VerifySM2(ReadBeside("testcerts\\sm2.der"), message, FromBase64(signature.text)));
}

// A text with a NUL inside, or bytes that are not UTF-8, would be signed as
// another text than the page sent. An empty text handed without bytes is
// empty; bytes said to be there but not handed are refused.
TEST_F(ScriptOnTestProvider, TextsNotExactlyAsSentAreRefused)
{
    NPVariant empty = {};
    STRINGN_TO_NPVARIANT(nullptr, 0, empty);
    ASSERT_TRUE(Call(m_pObject, "SelectCertificate", {empty, empty, empty, Str(kProviderName)}).IsBool(true));
    NPVariant missing = {};
    STRINGN_TO_NPVARIANT(nullptr, 4, missing);
    EXPECT_FALSE(Call(m_pObject, "SignMsgPKCS1", {missing, Str("")}).bReturned);
    const std::string texts[] = {std::string("Pay 100 to Alice\0 and 900000 to Mallory", 40),
                                 "A\xff\xfe"
                                 "B"};
    for (const std::string &text : texts) {
        CallResult pkcs1 = Call(m_pObject, "SignMsgPKCS1", {Str(text), Str("")});
        CallResult pkcs7 = Call(m_pObject, "SignMsgPKCS7", {Str(text), Str(""), Bool(true)});
        EXPECT_FALSE(pkcs1.bReturned);
        EXPECT_FALSE(pkcs7.bReturned);
        EXPECT_TRUE(pkcs7.IsNull());
        EXPECT_NE(std::string::npos, Call(m_pObject, "GetLastErrorDesc", {}).text.find("(0x80070057)"));
    }
}

// A call the page makes from inside the loop is refused, through this
// instance or another one, and the signature in progress keeps its
// certificate; the other instance is untouched and works afterwards.
TEST_F(ScriptOnTestProvider, CallFromInsideThePinDialogIsRefused)
{
    NPP_t other = {};
    NPObject *pOther = NewInstance(other);
    ASSERT_NE(nullptr, pOther);
    CallResult again, elsewhere;
    const std::string message = "signed while the page calls again";
    CallResult signature = SignWhilePageScriptRuns(message, [&] {
        again = Select(m_pObject);
        elsewhere = Select(pOther);
    });
    EXPECT_FALSE(again.bReturned);
    EXPECT_TRUE(again.IsBool(false));
    EXPECT_FALSE(elsewhere.bReturned);
    EXPECT_TRUE(elsewhere.IsBool(false));
    EXPECT_NE(std::string::npos, Call(pOther, "GetLastErrorDesc", {}).text.find("(0x00000000)"));
    EXPECT_TRUE(Select(pOther).IsBool(true));
    DestroyInstance(other, pOther);
    ASSERT_TRUE(signature.bReturned);
    const std::vector<unsigned char> der = FromBase64(signature.text);
    EXPECT_NE(der.end(), std::search(der.begin(), der.end(), message.begin(), message.end()));
    EXPECT_TRUE(Call(m_pObject, "GetSignCertInfo", {Str("SubjectCN")}).IsText("Alice Signer"));
    EXPECT_NE(std::string::npos, Call(m_pObject, "GetLastErrorDesc", {}).text.find("(0x00000000)"));
}

// The page removes the plug-in from inside the loop and the browser drops
// the instance and every reference it holds: the object, and the agent the
// signature runs on, go only once that call has returned.
TEST_F(ScriptOnTestProvider, InstanceRemovedInsideThePinDialogOutlivesTheCall)
{
    const long nObjects = LiveObjects();
    long nObjectsInLoop = 0;
    CallResult signature = SignWhilePageScriptRuns("signed while the page goes", [&] {
        EXPECT_EQ(NPERR_NO_ERROR, s_pluginFuncs.destroy(&m_instance, nullptr));
        m_pObject->_class->invalidate(m_pObject);
        s_browserFuncs.releaseobject(m_pObject);
        m_pObject = nullptr;
        nObjectsInLoop = LiveObjects();
    });
    EXPECT_EQ(nObjects, nObjectsInLoop);
    EXPECT_TRUE(signature.bReturned);
    EXPECT_EQ(nObjects - 1, LiveObjects());
}

TEST_F(ScriptOnTestProvider, PKCS7CarriesTheContentOnlyWhenAsked)
{
    ASSERT_TRUE(Select(m_pObject).IsBool(true));
    const std::string message = "attach me";
    CallResult attached = Call(m_pObject, "SignMsgPKCS7", {Str(message), Str(""), Bool(true)});
    CallResult detached = Call(m_pObject, "SignMsgPKCS7", {Str(message), Str(""), Bool(false)});
    ASSERT_TRUE(attached.bReturned);
    ASSERT_TRUE(detached.bReturned);
    auto holds = [&](const std::vector<unsigned char> &der) {
        return std::search(der.begin(), der.end(), message.begin(), message.end()) != der.end();
    };
    EXPECT_TRUE(holds(FromBase64(attached.text)));
    EXPECT_FALSE(holds(FromBase64(detached.text)));
}

TEST_F(ScriptOnTestProvider, InstancesKeepTheirOwnSelection)
{
    ASSERT_TRUE(Select(m_pObject).IsBool(true));
    NPP_t other = {};
    NPObject *pOther = NewInstance(other);
    ASSERT_NE(nullptr, pOther);
    CallResult unselected = Call(pOther, "GetSignCertInfo", {Str("SubjectCN")});
    EXPECT_FALSE(unselected.bReturned);
    EXPECT_TRUE(unselected.IsNull());
    EXPECT_TRUE(Call(m_pObject, "GetSignCertInfo", {Str("SubjectCN")}).IsText("Alice Signer"));
    DestroyInstance(other, pOther);
}

// An answer the browser has no memory for is a failure, and the page can
// ask why.
TEST_F(ScriptOnTestProvider, AnswersWithoutBrowserMemoryFail)
{
    m_config.AddKeyId(kProviderName, "TOKEN-1");
    ASSERT_TRUE(m_config.Write());
    ASSERT_TRUE(Select(m_pObject).IsBool(true));
    FailAllocations(true);
    const CallResult calls[] = {
        Call(m_pObject, "GetSignCertInfo", {Str("SubjectCN")}),
        Call(m_pObject, "SignMsgPKCS1", {Str("text"), Str("")}),
        Call(m_pObject, "SignMsgPKCS7", {Str("text"), Str(""), Bool(true)}),
        Call(m_pObject, "GetKeyID", {Str(kProviderName)}),
    };
    FailAllocations(false);
    for (const CallResult &call : calls) {
        EXPECT_FALSE(call.bReturned);
        EXPECT_TRUE(call.IsNull());
    }
    CallResult why = Call(m_pObject, "GetLastErrorDesc", {});
    EXPECT_NE(std::string::npos, why.text.find("(0x8007000e)")) << why.text;
}

TEST_F(ScriptOnTestProvider, FailedAgentCallIsDescribedAfterwards)
{
    CallResult selected = Call(m_pObject, "SelectCertificate", {Str(""), Str(""), Str(""), Str("No Such Provider")});
    EXPECT_FALSE(selected.bReturned);
    EXPECT_TRUE(selected.IsBool(false));
    CallResult description = Call(m_pObject, "GetLastErrorDesc", {});
    ASSERT_TRUE(description.bReturned);
    EXPECT_NE(std::string::npos, description.text.find("(0x")) << description.text;
}

} // namespace
