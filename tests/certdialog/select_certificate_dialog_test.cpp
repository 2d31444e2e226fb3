// The selection dialog shown for real and worked by SelectDialogDriver.
#include "CertificateDialogs.h"
#include "ShortSelectForm.h"
#include "ErrorCode.h"
#include "TestCertificate.h"
#include "UiDriver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

namespace {

struct Outcome {
    HRESULT status = E_FAIL;
    PCCERT_CONTEXT cert = nullptr;
    DriverRun run;
    std::map<std::string, std::string> seen; // "name: value" lines of the driver

    ~Outcome()
    {
        if (cert) CertFreeCertificateContext(cert);
    }
};

class SelectDialog : public ::testing::Test {
protected:
    void SetUp() override { SKIP_OR_FAIL_WITHOUT_DISPLAY(); }

    // Runs the entry function on this thread while the driver works the
    // dialog with the given steps.
    static void Select(const CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT &params,
                       const std::vector<PCCERT_CONTEXT> &candidates, const std::wstring &steps, Outcome &outcome)
    {
        CUiDriver driver(L"SelectDialogDriver.exe");
        ASSERT_TRUE(driver.Start(L"--timeout 20 " + steps));
        driver.GuardThreadWindows(GetCurrentThreadId());
        outcome.status = CustomCryptUIDlgSelectCertificate(&params, &outcome.cert, candidates);
        outcome.run = driver.Finish();
        EXPECT_EQ(0u, outcome.run.exitCode) << outcome.run.output;
        std::istringstream lines(outcome.run.output);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::string::size_type colon = line.find(": ");
            if (colon != std::string::npos && line.rfind("step", 0) != 0)
                outcome.seen[line.substr(0, colon)] = line.substr(colon + 2);
        }
    }

    static bool Same(PCCERT_CONTEXT a, PCCERT_CONTEXT b)
    {
        return a && b && CertCompareCertificate(X509_ASN_ENCODING, a->pCertInfo, b->pCertInfo);
    }

    TestCertificates m_certs;
};

TEST_F(SelectDialog, ClickedRowComesBackAfterOk)
{
    PCCERT_CONTEXT beta = m_certs.Add("CN=beta/O=Kelto Test");
    PCCERT_CONTEXT alpha = m_certs.Add("CN=Alpha/O=Kelto Test");
    PCCERT_CONTEXT gamma = m_certs.Add("CN=Gamma/O=Kelto Test");
    std::wstring shot = ScreenshotPath(L"select_certificate.bmp");
    Outcome outcome;
    Select(ShortSelectForm(0), {beta, alpha, gamma},
           L"dialog texts selected row=2 hover=1 shot=\"" + shot + L"\" ok gone", outcome);

    EXPECT_EQ("Windows Security", outcome.seen["title"]);
    EXPECT_EQ("OK", outcome.seen["ok"]);
    EXPECT_EQ("Cancel", outcome.seen["cancel"]);
    EXPECT_EQ("3", outcome.seen["rows"]);
    EXPECT_EQ("0", outcome.seen["selected"]);
    // Rows go by name ignoring case: Alpha, beta, Gamma.
    EXPECT_EQ(S_OK, outcome.status);
    EXPECT_TRUE(Same(gamma, outcome.cert));
    // The returned reference is the caller's own: it outlives the candidates.
    EXPECT_NE(gamma, outcome.cert);

    // The selected row's border and the heading's blue are on screen.
    EXPECT_GT(CountPixels(shot, RGB(0x7D, 0xB6, 0xCE)), 300);
    EXPECT_GT(CountPixels(shot, RGB(0x00, 0x33, 0x99)), 30);
}

TEST_F(SelectDialog, EnterTakesTheFirstRow)
{
    PCCERT_CONTEXT beta = m_certs.Add("CN=beta");
    PCCERT_CONTEXT alpha = m_certs.Add("CN=Alpha");
    Outcome outcome;
    Select(ShortSelectForm(0), {beta, alpha}, L"dialog enter gone", outcome);
    EXPECT_EQ(S_OK, outcome.status);
    EXPECT_TRUE(Same(alpha, outcome.cert));
}

// Cancel, Esc and the window's close command all mean the user gave up.
class SelectDialogLeft : public SelectDialog, public ::testing::WithParamInterface<const wchar_t *> { };

TEST_P(SelectDialogLeft, IsUserCanceledWithoutCertificate)
{
    Outcome outcome;
    Select(ShortSelectForm(0), {m_certs.Add("CN=one"), m_certs.Add("CN=two")},
           std::wstring(L"dialog ") + GetParam() + L" gone", outcome);
    EXPECT_EQ(VESK_E_USER_CANCELED, outcome.status);
    EXPECT_EQ(nullptr, outcome.cert);
}

INSTANTIATE_TEST_SUITE_P(Ways, SelectDialogLeft, ::testing::Values(L"cancel", L"escape", L"close"),
                         [](const auto &info) { return Utf8(info.param); });

TEST_F(SelectDialog, ShowAlwaysShowsOneCandidate)
{
    PCCERT_CONTEXT only = m_certs.Add("CN=only");
    Outcome outcome;
    Select(ShortSelectForm(1), {only}, L"dialog texts ok gone", outcome);
    EXPECT_EQ("1", outcome.seen["rows"]);
    EXPECT_EQ(S_OK, outcome.status);
    EXPECT_TRUE(Same(only, outcome.cert));
}

TEST_F(SelectDialog, SameCertificateTwiceMakesOneRow)
{
    PCCERT_CONTEXT twice = m_certs.Add("CN=twice");
    Outcome outcome;
    Select(ShortSelectForm(0), {twice, twice}, L"dialog texts cancel gone", outcome);
    EXPECT_EQ("1", outcome.seen["rows"]);
    EXPECT_EQ(VESK_E_USER_CANCELED, outcome.status);
}

// With no row there is nothing to return: OK says so instead of handing
// out a certificate that is not there.
TEST_F(SelectDialog, OkWithoutRowsIsNoCertificate)
{
    Outcome outcome;
    Select(ShortSelectForm(0), {}, L"dialog texts ok gone", outcome);
    EXPECT_EQ("0", outcome.seen["rows"]);
    EXPECT_EQ(VESK_E_NO_CERTIFICATE, outcome.status);
    EXPECT_EQ(nullptr, outcome.cert);
}

TEST_F(SelectDialog, LongFormTextsReplaceTheDefaults)
{
    CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT params = {};
    params.dwForm = CUSTOM_CRYPTUI_FORM_LONG;
    params.hInstance = GetModuleHandleW(nullptr);
    params.u.longForm.pwszTitle = L"Choose a signer";
    params.u.longForm.pwszOKText = L"Sign";
    params.u.longForm.pwszCancelText = L"Stop";
    PCCERT_CONTEXT only = m_certs.Add("CN=only");
    Outcome outcome;
    // A title alone makes a single candidate show the dialog.
    Select(params, {only}, L"dialog texts ok gone", outcome);
    EXPECT_EQ("Choose a signer", outcome.seen["title"]);
    EXPECT_EQ("Sign", outcome.seen["ok"]);
    EXPECT_EQ("Stop", outcome.seen["cancel"]);
    EXPECT_EQ(S_OK, outcome.status);
    EXPECT_TRUE(Same(only, outcome.cert));
}

// A double click on a row shows that certificate in the system's viewer;
// one on the empty space below the rows shows nothing. Neither chooses.
TEST_F(SelectDialog, DoubleClickOnARowOpensTheViewer)
{
    Outcome outcome;
    Select(ShortSelectForm(1), {m_certs.Add("CN=only")}, L"dialog double=0 viewer closeviewer cancel gone", outcome);
    // The viewer's own windows join the dialog (Wine's viewer shows two).
    EXPECT_GT(std::atoi(outcome.seen["windows"].c_str()), 1) << outcome.seen["windows"];
    EXPECT_EQ(VESK_E_USER_CANCELED, outcome.status);
}

TEST_F(SelectDialog, DoubleClickBelowTheRowsOpensNothing)
{
    Outcome outcome;
    Select(ShortSelectForm(1), {m_certs.Add("CN=only")}, L"dialog double=1 windows cancel gone", outcome);
    EXPECT_EQ("1", outcome.seen["windows"]);
    EXPECT_EQ(VESK_E_USER_CANCELED, outcome.status);
}

// A dialog that cannot start closes itself as Cancel does.
TEST_F(SelectDialog, MissingArgumentRecordClosesAsCancel)
{
    PCCERT_CONTEXT cert = nullptr;
    DWORD errorCode = 0;
    EXPECT_EQ(IDCANCEL, RunSelectCertificateDialog(nullptr, &cert, &errorCode));
    EXPECT_EQ(CERTIFICATE_DIALOG_CANCELED, errorCode);
    EXPECT_EQ(nullptr, cert);
}

} // namespace
