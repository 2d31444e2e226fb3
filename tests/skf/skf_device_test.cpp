// Devices through the library's exports: listing, connecting, handles,
// state, label, information, raw commands and random numbers.
#include "SkfFixture.h"

#include <cstring>

namespace {

using namespace skftest;

class Devices : public SkfTest { };

std::vector<std::string> SplitList(const char* list, ULONG size)
{
    std::vector<std::string> names;
    for (ULONG at = 0; at < size && list[at]; at += static_cast<ULONG>(std::strlen(list + at)) + 1)
        names.push_back(list + at);
    return names;
}

TEST_F(Devices, EmptyListIsTwoNulsAndSizeQueryCountsWholeEntries)
{
    ULONG size = 0;
    ASSERT_EQ(Skf().SKF_EnumDev(TRUE, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 2u);
    char list[4] = {'x', 'x', 'x', 'x'};
    size = sizeof list;
    ASSERT_EQ(Skf().SKF_EnumDev(TRUE, list, &size), SAR_OK);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(std::string(list, 3), std::string("\0\0x", 3));

    tokentest::AddToken(Serial(1));
    tokentest::AddToken(Serial(2));
    tokensim::TokenOptions absent;
    absent.present = false;
    tokentest::AddToken(Serial(3), absent);
    ASSERT_EQ(Skf().SKF_EnumDev(TRUE, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 2u * 261 + 2);
    std::vector<char> buffer(size);
    ULONG shortSize = size - 1;
    EXPECT_EQ(Skf().SKF_EnumDev(TRUE, buffer.data(), &shortSize), SAR_INDATALENERR);
    ASSERT_EQ(Skf().SKF_EnumDev(TRUE, buffer.data(), &size), SAR_OK);
    std::vector<std::string> names = SplitList(buffer.data(), size);
    EXPECT_EQ(names, (std::vector<std::string> {NameOf(Serial(1)), NameOf(Serial(2))}));
    EXPECT_EQ(size, NameOf(Serial(1)).size() + NameOf(Serial(2)).size() + 3);
    EXPECT_EQ(Skf().SKF_EnumDev(TRUE, buffer.data(), nullptr), SAR_INVALIDPARAMERR);
}

TEST_F(Devices, ConnectRefusesMissingArgumentsAbsentTokensAndOverlongNames)
{
    tokensim::TokenOptions absent;
    absent.present = false;
    tokentest::AddToken(Serial(1), absent);
    DEVHANDLE dev = nullptr;
    EXPECT_EQ(Skf().SKF_ConnectDev(Text(NameOf(Serial(1))), &dev), SAR_FAIL);
    EXPECT_EQ(dev, nullptr);
    EXPECT_EQ(Skf().SKF_ConnectDev(Text(NameOf(Serial(1))), nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(Skf().SKF_ConnectDev(nullptr, &dev), SAR_INVALIDPARAMERR);
    EXPECT_EQ(Skf().SKF_ConnectDev(Text(std::string(304, 'n')), &dev), SAR_INVALIDPARAMERR);
    EXPECT_EQ(Skf().SKF_ConnectDev(Text(std::string(303, 'n')), &dev), SAR_FAIL);
    EXPECT_EQ(dev, nullptr);
}

TEST_F(Devices, ClosedAndForeignHandlesAreRefusedAsInvalid)
{
    DEVHANDLE dev = Connect(Serial(1));
    ASSERT_NE(dev, nullptr);
    HCONTAINER con = nullptr;
    ASSERT_EQ(Skf().SKF_CreateContainer(dev, Text("c"), &con), SAR_OK);
    BYTE random[8];
    EXPECT_EQ(Skf().SKF_GenRandom(con, random, sizeof random), SAR_INVALIDHANDLEERR);
    ULONG type = 0;
    EXPECT_EQ(Skf().SKF_GetContainerType(dev, &type), SAR_INVALIDHANDLEERR);

    ASSERT_EQ(Skf().SKF_DisConnectDev(dev), SAR_OK);
    Forget(dev);
    EXPECT_EQ(Skf().SKF_DisConnectDev(dev), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(Skf().SKF_GenRandom(dev, random, sizeof random), SAR_INVALIDHANDLEERR);
    // The container outlives its device but can no longer reach it.
    EXPECT_EQ(Skf().SKF_GetContainerType(con, &type), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(Skf().SKF_CloseContainer(con), SAR_OK);
    EXPECT_EQ(Skf().SKF_CloseContainer(con), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(Skf().SKF_DisConnectDev(nullptr), SAR_INVALIDHANDLEERR);
}

TEST_F(Devices, StateIsPresentWhileTheTokenAnswersRandomRequests)
{
    DEVHANDLE dev = Connect(Serial(1));
    ULONG state = 7;
    ASSERT_EQ(Skf().SKF_GetDevState(static_cast<LPSTR>(dev), &state), SAR_OK);
    EXPECT_EQ(state, DEV_PRESENT_STATE);
    Fault(34, devicelib::UK_ERR_DEVICE_REMOVED);
    ASSERT_EQ(Skf().SKF_GetDevState(static_cast<LPSTR>(dev), &state), SAR_OK);
    EXPECT_EQ(state, DEV_ABSENT_STATE);
    EXPECT_EQ(Skf().SKF_GetDevState(static_cast<LPSTR>(dev), nullptr), SAR_INVALIDPARAMERR);

    // Standard callers pass the device name instead.
    tokensim::TokenOptions absent;
    absent.present = false;
    tokentest::AddToken(Serial(2), absent);
    for (const auto& named :
         {std::make_pair(NameOf(Serial(1)), DEV_PRESENT_STATE), std::make_pair(NameOf(Serial(2)), DEV_ABSENT_STATE),
          std::make_pair(std::string("\\\\?\\usbstor#cdrom"), DEV_ABSENT_STATE)}) {
        state = 7;
        EXPECT_EQ(Skf().SKF_GetDevState(Text(named.first), &state), SAR_OK) << named.first;
        EXPECT_EQ(state, named.second) << named.first;
    }
    EXPECT_EQ(Skf().SKF_GetDevState(Text(std::string(260, 'n')), &state), SAR_INVALIDPARAMERR);
    EXPECT_EQ(Skf().SKF_GetDevState(nullptr, &state), SAR_INVALIDHANDLEERR);

    // A handle is never read as a name: of another kind, or closed, it is
    // refused.
    HCONTAINER con = nullptr;
    ASSERT_EQ(Skf().SKF_CreateContainer(dev, Text("c"), &con), SAR_OK);
    Keep(con);
    EXPECT_EQ(Skf().SKF_GetDevState(static_cast<LPSTR>(con), &state), SAR_INVALIDHANDLEERR);
    ASSERT_EQ(Skf().SKF_DisConnectDev(dev), SAR_OK);
    Forget(dev);
    EXPECT_EQ(Skf().SKF_GetDevState(static_cast<LPSTR>(dev), &state), SAR_INVALIDHANDLEERR);
}

TEST_F(Devices, LabelOfThirtyTwoCharactersIsTheLimit)
{
    DEVHANDLE dev = Connect(Serial(1));
    std::string label(32, 'L');
    ASSERT_EQ(Skf().SKF_SetLabel(dev, Text(label)), SAR_OK);
    DEVINFO info = {};
    ASSERT_EQ(Skf().SKF_GetDevInfo(dev, &info), SAR_OK);
    EXPECT_EQ(std::string(info.Label, sizeof info.Label), label);
    LogTail log;
    EXPECT_EQ(Skf().SKF_SetLabel(dev, Text(label + "L")), SAR_FAIL);
    EXPECT_TRUE(log.Has("DF_SetDevLabel err[0xa000009]"));
    EXPECT_EQ(Skf().SKF_SetLabel(dev, nullptr), SAR_INVALIDPARAMERR);
}

TEST_F(Devices, InformationLeavesTheUnwrittenBytesAsTheCallerHadThem)
{
    DEVHANDLE dev = Connect(Serial(1));
    DEVINFO info;
    std::memset(&info, 0xFF, sizeof info);
    ASSERT_EQ(Skf().SKF_GetDevInfo(dev, &info), SAR_OK);
    const auto* raw = reinterpret_cast<const BYTE*>(&info);
    EXPECT_EQ(info.Version.major, 1);
    EXPECT_EQ(info.Version.minor, 0);
    EXPECT_STREQ(info.Manufacturer, "VESK UKey");
    EXPECT_STREQ(info.Issuer, "VESK UKey");
    EXPECT_EQ(raw[2 + 10], 0xFF);
    EXPECT_EQ(raw[66 + 10], 0xFF);
    EXPECT_STREQ(info.Label, ("VESK UKey " + Serial(1)).c_str());
    EXPECT_STREQ(info.SerialNumber, Serial(1).c_str());
    EXPECT_EQ(info.HWVersion.major, 1);
    EXPECT_EQ(info.FirmwareVersion.major, 1);
    EXPECT_EQ(raw[198], 0xFF);
    EXPECT_EQ(raw[199], 0xFF);
    EXPECT_EQ(info.AlgSymCap, 0x101u);
    EXPECT_EQ(info.AlgAsymCap, 0x20100u);
    EXPECT_EQ(info.AlgHashCap, 1u);
    EXPECT_EQ(info.DevAuthAlgId, 0x101u);
    EXPECT_EQ(info.TotalSpace, 196608u);
    EXPECT_EQ(info.FreeSpace, 30720u);
    EXPECT_EQ(info.MaxECCBufferSize, 0xFFFFFFFFu);
    EXPECT_EQ(info.MaxBufferSize, 0x40000000u);
    for (BYTE b : info.Reserved) ASSERT_EQ(b, 0xFF);
    EXPECT_EQ(Skf().SKF_GetDevInfo(dev, nullptr), SAR_INVALIDPARAMERR);
}

TEST_F(Devices, InformationFailsWhenTheSerialCannotBeRead)
{
    DEVHANDLE dev = Connect(Serial(1));
    Fault(7, devicelib::UK_SW_INS_NOT_SUPPORTED);
    DEVINFO info = {};
    EXPECT_EQ(Skf().SKF_GetDevInfo(dev, &info), SAR_FAIL);
    EXPECT_STREQ(info.Manufacturer, "VESK UKey");
}

TEST_F(Devices, TransmitHandsOutTheResponseDataWithinTheCallersBuffer)
{
    DEVHANDLE dev = Connect(Serial(1));
    BYTE serialCommand[] = {0xB0, 0x61, 0x00, 0x00, 0x3F};
    BYTE data[64] = {};
    ULONG len = sizeof data;
    ASSERT_EQ(Skf().SKF_Transmit(dev, serialCommand, sizeof serialCommand, data, &len), SAR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), len), Serial(1));
    BYTE small[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    len = 3;
    EXPECT_EQ(Skf().SKF_Transmit(dev, serialCommand, sizeof serialCommand, small, &len), SAR_FAIL);
    EXPECT_EQ(small[3], 0xAA);
    len = sizeof data;
    BYTE unknown[] = {0xB0, 0x01, 0x00, 0x00};
    EXPECT_EQ(Skf().SKF_Transmit(dev, unknown, sizeof unknown, data, &len), SAR_FAIL);
    EXPECT_EQ(Skf().SKF_Transmit(dev, serialCommand, sizeof serialCommand, nullptr, &len), SAR_FAIL);
    EXPECT_EQ(Skf().SKF_Transmit(dev, nullptr, 5, data, &len), SAR_FAIL);

    // Answers shorter than their length bytes and status word are refused.
    auto shortAnswer = [](std::int32_t n) {
        tokentest::EditStore([&](tokensim::State& s) { s.faults.push_back({7, 0, 1, n}); });
    };
    for (std::int32_t n : {0, 1, 3}) {
        shortAnswer(n);
        len = sizeof data;
        EXPECT_EQ(Skf().SKF_Transmit(dev, serialCommand, sizeof serialCommand, data, &len), SAR_FAIL) << n;
    }
    shortAnswer(2);
    DEVINFO info = {};
    EXPECT_EQ(Skf().SKF_GetDevInfo(dev, &info), SAR_FAIL);
}

TEST_F(Devices, RandomLengthsFromOneTo512Only)
{
    DEVHANDLE dev = Connect(Serial(1));
    std::vector<BYTE> buffer(513);
    EXPECT_EQ(Skf().SKF_GenRandom(dev, buffer.data(), 512), SAR_OK);
    EXPECT_EQ(Skf().SKF_GenRandom(dev, buffer.data(), 513), SAR_FAIL);
    EXPECT_EQ(Skf().SKF_GenRandom(dev, buffer.data(), 0), SAR_FAIL);
    EXPECT_EQ(Skf().SKF_GenRandom(dev, nullptr, 8), SAR_FAIL);
    Fault(34, devicelib::UK_SW_CONDITIONS_NOT_SATISFIED);
    EXPECT_EQ(Skf().SKF_GenRandom(dev, buffer.data(), 8), SAR_FAIL);
}

TEST_F(Devices, DeviceAuthenticationStubsAnswerSuccessForAnyArguments)
{
    EXPECT_EQ(Skf().SKF_DevAuth(nullptr, nullptr, 0), SAR_OK);
    EXPECT_EQ(Skf().SKF_ChangeDevAuthKey(nullptr, nullptr, 0), SAR_OK);
}

TEST_F(Devices, EveryExportFailsCleanlyWhenTheTokenIsPulled)
{
    DEVHANDLE dev = Connect(Serial(1));
    tokentest::EditStore([](tokensim::State& s) { s.FindBySerial(Serial(1))->present = false; });
    DEVINFO info = {};
    EXPECT_EQ(Skf().SKF_GetDevInfo(dev, &info), SAR_FAIL);
    EXPECT_EQ(Skf().SKF_SetLabel(dev, Text("x")), SAR_FAIL);
    ULONG retry = 0;
    EXPECT_EQ(Skf().SKF_VerifyPIN(dev, USER_TYPE, Text("12345678"), &retry), SAR_PIN_INCORRECT);
    ULONG size = 0;
    EXPECT_EQ(Skf().SKF_EnumContainer(dev, nullptr, &size), SAR_FAIL);
    EXPECT_EQ(Skf().SKF_DisConnectDev(dev), SAR_OK);
    Forget(dev);
}

} // namespace
