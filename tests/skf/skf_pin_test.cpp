// PINs and the fixed application through the library's exports, against
// the simulated token's try counters.
#include "SkfFixture.h"

#include <cstring>

namespace {

using namespace skftest;

constexpr char kUserPin[] = "12345678";
constexpr char kAdminPin[] = "87654321";

class Pins : public SkfTest {
protected:
    void SetUp() override
    {
        SkfTest::SetUp();
        m_dev = Connect(Serial(1));
        ASSERT_NE(m_dev, nullptr);
    }
    ULONG Verify(ULONG type, const char* pin, ULONG* retry)
    {
        return Skf().SKF_VerifyPIN(m_dev, type, Text(pin), retry);
    }
    DEVHANDLE m_dev = nullptr;
};

TEST_F(Pins, WrongUserPinReportsTriesLeftUntilBlocked)
{
    ULONG retry = 99;
    EXPECT_EQ(Verify(USER_TYPE, "00000000", &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(retry, 5u);
    EXPECT_EQ(Verify(USER_TYPE, kUserPin, &retry), SAR_OK);
    for (ULONG left = 6; left-- > 0;) {
        EXPECT_EQ(Verify(USER_TYPE, "00000000", &retry), SAR_PIN_INCORRECT);
        EXPECT_EQ(retry, left);
    }
    retry = 99;
    EXPECT_EQ(Verify(USER_TYPE, kUserPin, &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(retry, 0u);
}

TEST_F(Pins, VerifyRefusesMissingRetryCountAndUnreachableToken)
{
    EXPECT_EQ(Verify(USER_TYPE, kUserPin, nullptr), SAR_INVALIDPARAMERR);
    ULONG retry = 0;
    EXPECT_EQ(Skf().SKF_VerifyPIN(m_dev, USER_TYPE, nullptr, &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(Skf().SKF_VerifyPIN(nullptr, USER_TYPE, Text(kUserPin), &retry), SAR_INVALIDHANDLEERR);
    Fault(27, devicelib::UK_ERR_DEVICE_REMOVED);
    Fault(29, devicelib::UK_ERR_DEVICE_REMOVED);
    EXPECT_EQ(Verify(USER_TYPE, kUserPin, &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(Verify(ADMIN_TYPE, kAdminPin, &retry), SAR_OK);
}

TEST_F(Pins, InfoStatesSixTriesAtMostAndTheFactoryDefault)
{
    ULONG max = 0, remain = 0;
    BOOL isDefault = TRUE;
    ASSERT_EQ(Skf().SKF_GetPINInfo(m_dev, USER_TYPE, &max, &remain, &isDefault), SAR_OK);
    EXPECT_EQ(max, 6u);
    EXPECT_EQ(remain, 6u);
    EXPECT_EQ(isDefault, FALSE);
    ULONG retry = 0;
    Verify(ADMIN_TYPE, "00000000", &retry);
    ASSERT_EQ(Skf().SKF_GetPINInfo(m_dev, ADMIN_TYPE, &max, &remain, &isDefault), SAR_OK);
    EXPECT_EQ(remain, 5u);
    max = 42;
    EXPECT_EQ(Skf().SKF_GetPINInfo(m_dev, 2, &max, &remain, &isDefault), SAR_FAIL);
    EXPECT_EQ(max, 42u);
    EXPECT_EQ(Skf().SKF_GetPINInfo(m_dev, USER_TYPE, &max, nullptr, &isDefault), SAR_FAIL);

    tokensim::TokenOptions factory;
    factory.factoryDefault = true;
    factory.maxTries = 10;
    DEVHANDLE fresh = Connect(Serial(2), factory);
    ASSERT_EQ(Skf().SKF_GetPINInfo(fresh, USER_TYPE, &max, &remain, &isDefault), SAR_OK);
    EXPECT_EQ(max, 6u);
    EXPECT_EQ(remain, 10u);
    EXPECT_EQ(isDefault, TRUE);
}

TEST_F(Pins, ChangeNeedsTheOldPinAndCountsAWrongOne)
{
    LogTail log;
    ULONG retry = 99;
    EXPECT_EQ(Skf().SKF_ChangePIN(m_dev, USER_TYPE, Text("00000000"), Text("11112222"), &retry), SAR_FAIL);
    EXPECT_EQ(retry, 5u);
    ASSERT_EQ(Skf().SKF_ChangePIN(m_dev, USER_TYPE, Text(kUserPin), Text("11112222"), &retry), SAR_OK);
    EXPECT_EQ(Verify(USER_TYPE, "11112222", &retry), SAR_OK);
    EXPECT_EQ(Skf().SKF_ChangePIN(m_dev, USER_TYPE, Text("11112222"), Text("33334444"), nullptr), SAR_FAIL);
    EXPECT_EQ(Skf().SKF_ChangePIN(m_dev, 5, Text("11112222"), Text("33334444"), &retry), SAR_FAIL);
    EXPECT_EQ(Verify(USER_TYPE, "11112222", &retry), SAR_OK);
    EXPECT_TRUE(log.Has("DF_ChangePIN[szOldPin:***][szNewPin:***]"));
    for (const char* pin : {kUserPin, "00000000", "11112222", "33334444"}) EXPECT_FALSE(log.Has(pin)) << pin;
}

TEST_F(Pins, UnblockResetsTheUserPinWithTheAdministratorPin)
{
    ULONG retry = 0;
    for (int i = 0; i < 6; ++i) Verify(USER_TYPE, "00000000", &retry);
    ASSERT_EQ(retry, 0u);
    EXPECT_EQ(Skf().SKF_UnblockPIN(m_dev, Text("00000000"), Text("55556666"), &retry), SAR_FAIL);
    EXPECT_EQ(retry, 5u);
    ASSERT_EQ(Skf().SKF_UnblockPIN(m_dev, Text(kAdminPin), Text("55556666"), &retry), SAR_OK);
    EXPECT_EQ(Verify(USER_TYPE, "55556666", &retry), SAR_OK);
    EXPECT_EQ(Skf().SKF_UnblockPIN(m_dev, Text(kAdminPin), Text(std::string(256, '7')), &retry), SAR_FAIL);
    EXPECT_EQ(Skf().SKF_UnblockPIN(m_dev, Text(kAdminPin), nullptr, &retry), SAR_FAIL);
}

TEST_F(Pins, UnblockOnATokenWithoutAdministratorPinSaysSo)
{
    tokensim::TokenOptions noAdmin;
    noAdmin.withAdminPin = false;
    DEVHANDLE dev = Connect(Serial(2), noAdmin);
    ULONG retry = 0;
    LogTail log;
    EXPECT_EQ(Skf().SKF_UnblockPIN(dev, Text(kAdminPin), Text("55556666"), &retry), SAR_FAIL);
    EXPECT_TRUE(log.Has("[ERROR] ") && log.Has("not exist so pin (6981)"));
    EXPECT_TRUE(log.Has("DF_UnblockPIN ERR[0x80006981]"));
}

TEST_F(Pins, ClearSecureStateEndsTheLogin)
{
    ULONG retry = 0;
    ASSERT_EQ(Verify(USER_TYPE, kUserPin, &retry), SAR_OK);
    EXPECT_EQ(Skf().SKF_ClearSecureState(m_dev), SAR_OK);
    Fault(7, devicelib::UK_ERR_DEVICE_REMOVED);
    EXPECT_EQ(Skf().SKF_ClearSecureState(m_dev), SAR_FAIL);
    EXPECT_EQ(Skf().SKF_ClearSecureState(nullptr), SAR_INVALIDHANDLEERR);
}

class Application : public Pins { };

TEST_F(Application, ListHoldsTheOneApplicationInEighteenBytes)
{
    ULONG size = 0;
    ASSERT_EQ(Skf().SKF_EnumApplication(m_dev, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 18u);
    char list[20];
    std::memset(list, 'x', sizeof list);
    size = 17;
    EXPECT_EQ(Skf().SKF_EnumApplication(m_dev, list, &size), SAR_INDATALENERR);
    EXPECT_EQ(list[0], 'x');
    size = sizeof list;
    ASSERT_EQ(Skf().SKF_EnumApplication(m_dev, list, &size), SAR_OK);
    EXPECT_EQ(size, 18u);
    EXPECT_EQ(std::string(list, 19), std::string("VESK-Application\0\0x", 19));
    EXPECT_EQ(Skf().SKF_EnumApplication(m_dev, list, nullptr), SAR_INVALIDPARAMERR);
}

TEST_F(Application, OpenTakesTheNameInAnyCaseAndAnswersTheDeviceHandle)
{
    HAPPLICATION app = nullptr;
    ASSERT_EQ(Skf().SKF_OpenApplication(m_dev, Text("vesk-application"), &app), SAR_OK);
    EXPECT_EQ(app, m_dev);
    app = nullptr;
    EXPECT_EQ(Skf().SKF_OpenApplication(m_dev, Text("VESK-Application2"), &app), SAR_INVALIDPARAMERR);
    EXPECT_EQ(app, nullptr);
    EXPECT_EQ(Skf().SKF_OpenApplication(m_dev, nullptr, &app), SAR_INVALIDPARAMERR);
    EXPECT_EQ(Skf().SKF_OpenApplication(m_dev, Text("VESK-Application"), nullptr), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(Skf().SKF_OpenApplication(nullptr, Text("VESK-Application"), &app), SAR_INVALIDHANDLEERR);
}

TEST_F(Application, CreateDeleteAndCloseChangeNothingOnTheToken)
{
    HAPPLICATION app = nullptr;
    ASSERT_EQ(Skf().SKF_CreateApplication(m_dev, Text("other"), Text(kAdminPin), 6, Text(kUserPin), 6, 0, &app),
              SAR_OK);
    EXPECT_EQ(app, m_dev);
    EXPECT_EQ(Skf().SKF_CreateApplication(m_dev, Text("other"), nullptr, 6, nullptr, 6, 0, nullptr),
              SAR_INVALIDHANDLEERR);
    EXPECT_EQ(Skf().SKF_CreateApplication(m_dev, nullptr, nullptr, 6, nullptr, 6, 0, &app), SAR_INVALIDPARAMERR);
    EXPECT_EQ(Skf().SKF_DeleteApplication(m_dev, Text("VESK-Application")), SAR_OK);
    EXPECT_EQ(Skf().SKF_CloseApplication(app), SAR_OK);
    EXPECT_EQ(Skf().SKF_CloseApplication(nullptr), SAR_OK);
    ULONG size = 0;
    ASSERT_EQ(Skf().SKF_EnumApplication(app, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 18u);
}

} // namespace
