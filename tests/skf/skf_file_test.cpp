// Files of the application as the token's data objects, through the
// library's exports.
#include "SkfFileExports.h"
#include "SkfMoreExports.h"

#include <cstring>

namespace {

using namespace skftest;

constexpr char kUserPin[] = "12345678";

struct FileExports {
    decltype(&SKF_CreateFile) Create = SKF_EXPORT(SKF_CreateFile);
    decltype(&SKF_DeleteFile) Delete = SKF_EXPORT(SKF_DeleteFile);
    decltype(&SKF_EnumFiles) Enum = SKF_EXPORT(SKF_EnumFiles);
    decltype(&SKF_GetFileInfo) Info = SKF_EXPORT(SKF_GetFileInfo);
    decltype(&SKF_ReadFile) Read = SKF_EXPORT(SKF_ReadFile);
    decltype(&SKF_WriteFile) Write = SKF_EXPORT(SKF_WriteFile);
};

class Files : public SkfTest {
protected:
    void SetUp() override
    {
        SkfTest::SetUp();
        ASSERT_TRUE(F.Create && F.Delete && F.Enum && F.Info && F.Read && F.Write);
        m_app = Connect(Serial(1));
        ASSERT_NE(m_app, nullptr);
    }
    void VerifyUser()
    {
        ULONG retry = 0;
        ASSERT_EQ(Skf().SKF_VerifyPIN(m_app, USER_TYPE, Text(kUserPin), &retry), SAR_OK);
    }
    ULONG Create(const std::string& name, ULONG size) { return F.Create(m_app, Text(name), size, 0xFF, 0x10); }
    std::vector<BYTE> Read(const std::string& name, ULONG offset, ULONG size, ULONG* reported = nullptr)
    {
        std::vector<BYTE> out(size + 64, 0xEE);
        ULONG len = static_cast<ULONG>(out.size());
        EXPECT_EQ(F.Read(m_app, Text(name), offset, size, out.data(), &len), SAR_OK) << name;
        if (reported) *reported = len;
        out.resize(len);
        return out;
    }
    static ULONG TriesLeft(DEVHANDLE dev)
    {
        ULONG max = 0, left = 0;
        BOOL factory = FALSE;
        EXPECT_EQ(Skf().SKF_GetPINInfo(dev, USER_TYPE, &max, &left, &factory), SAR_OK);
        return left;
    }
    std::vector<std::string> List()
    {
        ULONG size = 0;
        EXPECT_EQ(F.Enum(m_app, nullptr, &size), SAR_OK);
        std::vector<char> buffer(size);
        EXPECT_EQ(F.Enum(m_app, buffer.data(), &size), SAR_OK);
        std::vector<std::string> names;
        for (ULONG at = 0; at < size && buffer[at]; at += static_cast<ULONG>(std::strlen(&buffer[at])) + 1)
            names.push_back(&buffer[at]);
        return names;
    }

    FileExports F;
    DEVHANDLE m_app = nullptr;
};

// Creating and writing log in with the PIN this connection presented and
// the token accepted; no other PIN, and no try spent without one.
TEST_F(Files, ChangesUseOnlyThisConnectionsAcceptedPin)
{
    LogTail log;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Create("plain", 10), SAR_FAIL);
    EXPECT_EQ(TriesLeft(m_app), 6u);
    EXPECT_TRUE(log.Has("DF_CreateFile ERR[0xa000026]"));
    EXPECT_FALSE(log.Has("g_FuncList[0]->Login ERR:["));
    EXPECT_TRUE(List().empty());

    // A refused PIN is not kept.
    ULONG retry = 0;
    EXPECT_EQ(Skf().SKF_VerifyPIN(m_app, USER_TYPE, Text("87654321"), &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(Create("plain", 10), SAR_FAIL);
    EXPECT_EQ(TriesLeft(m_app), 5u);

    // Another token's connection never uses this one's PIN.
    DEVHANDLE other = Connect(Serial(2));
    VerifyUser();
    EXPECT_EQ(F.Create(other, Text("plain"), 10, 0xFF, 0x10), SAR_FAIL);
    EXPECT_EQ(TriesLeft(other), 6u);

    ASSERT_EQ(Create("plain", 10), SAR_OK);
    BYTE data[2] = {1, 2};
    EXPECT_EQ(F.Write(m_app, Text("plain"), 0, data, 2), SAR_OK);
    // Disconnecting another connection of the same token leaves this one's.
    DEVHANDLE second = ConnectTo(NameOf(Serial(1)));
    EXPECT_EQ(Skf().SKF_DisConnectDev(second), SAR_OK);
    Forget(second);
    EXPECT_EQ(F.Write(m_app, Text("plain"), 0, data, 2), SAR_OK);
    // A disconnect the token refuses leaves the connection its PIN.
    Fault(5, devicelib::UK_SW_CONDITIONS_NOT_SATISFIED);
    EXPECT_EQ(Skf().SKF_DisConnectDev(m_app), SAR_FAIL);
    EXPECT_EQ(F.Write(m_app, Text("plain"), 0, data, 2), SAR_OK);
    // A wrong PIN after a right one forgets it.
    EXPECT_EQ(Skf().SKF_VerifyPIN(m_app, USER_TYPE, Text("87654321"), &retry), SAR_PIN_INCORRECT);
    EXPECT_EQ(F.Write(m_app, Text("plain"), 0, data, 2), SAR_FAIL);
    EXPECT_EQ(TriesLeft(m_app), 5u);
}

TEST_F(Files, NewFileReadsBackAsZerosAndReportsTheBytesCopied)
{
    VerifyUser();
    ASSERT_EQ(Create("data", 100), SAR_OK);
    ULONG reported = 0;
    EXPECT_EQ(Read("data", 0, 100, &reported), std::vector<BYTE>(100, 0));
    EXPECT_EQ(reported, 100u);
    EXPECT_EQ(Read("data", 95, 10, &reported).size(), 5u);
    EXPECT_EQ(reported, 5u);
    EXPECT_EQ(Read("data", 100, 10, &reported).size(), 0u);
    EXPECT_EQ(reported, 0u);

    ULONG len = 0;
    EXPECT_EQ(F.Read(m_app, Text("data"), 0, 100, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 100u);
    // An exactly sized buffer is enough; one byte less is not.
    std::vector<BYTE> out(100, 0xEE);
    len = 99;
    EXPECT_EQ(F.Read(m_app, Text("data"), 0, 100, out.data(), &len), SAR_FAIL);
    EXPECT_EQ(out, std::vector<BYTE>(100, 0xEE));
    len = 100;
    EXPECT_EQ(F.Read(m_app, Text("data"), 0, 100, out.data(), &len), SAR_OK);
    EXPECT_EQ(out, std::vector<BYTE>(100, 0));
}

// A file the token cannot fill at its size is not left behind, so the
// name can be used again.
TEST_F(Files, FailedCreationLeavesNoFile)
{
    VerifyUser();
    Fault(80, devicelib::UK_SW_CONDITIONS_NOT_SATISFIED);
    EXPECT_EQ(Create("data", 100), SAR_FAIL);
    EXPECT_EQ(List(), std::vector<std::string> {});
    ASSERT_EQ(Create("data", 100), SAR_OK);
    EXPECT_EQ(Read("data", 0, 100), std::vector<BYTE>(100, 0));
}

TEST_F(Files, ReadsRefuseOffsetsPastTheEndAndMissingFiles)
{
    VerifyUser();
    ASSERT_EQ(Create("data", 100), SAR_OK);
    std::vector<BYTE> out(200, 0xEE);
    ULONG len = static_cast<ULONG>(out.size());
    EXPECT_EQ(F.Read(m_app, Text("data"), 101, 10, out.data(), &len), SAR_FAIL);
    EXPECT_EQ(F.Read(m_app, Text("data"), 0xFFFFFFF0, 0x20, out.data(), &len), SAR_FAIL);
    EXPECT_EQ(out, std::vector<BYTE>(200, 0xEE));
    LogTail log;
    EXPECT_EQ(F.Read(m_app, Text("none"), 0, 10, out.data(), &len), SAR_FAIL);
    EXPECT_TRUE(log.Has("DF_ReadFile ERR[0xa000031]"));
    EXPECT_EQ(F.Read(m_app, Text("data"), 0, 10, out.data(), nullptr), SAR_FAIL);
}

TEST_F(Files, WritesStayWithinTheFileAndChangeOnlyTheirBytes)
{
    VerifyUser();
    ASSERT_EQ(Create("data", 100), SAR_OK);
    BYTE ten[10];
    for (BYTE i = 0; i < 10; ++i) ten[i] = static_cast<BYTE>(0xA0 + i);
    LogTail log;
    EXPECT_EQ(F.Write(m_app, Text("data"), 91, ten, 10), SAR_FAIL);
    EXPECT_TRUE(log.Has("DF_WriteFile ERR[0xa000030]"));
    // An offset and size whose 32-bit sum wraps round are refused too.
    EXPECT_EQ(F.Write(m_app, Text("data"), 0xFFFFFFFA, ten, 10), SAR_FAIL);
    ASSERT_EQ(F.Write(m_app, Text("data"), 90, ten, 10), SAR_OK);
    std::vector<BYTE> expected(100, 0);
    std::memcpy(&expected[90], ten, 10);
    EXPECT_EQ(Read("data", 0, 100), expected);
    EXPECT_EQ(F.Write(m_app, Text("data"), 0, nullptr, 10), SAR_FAIL);
    EXPECT_EQ(F.Write(m_app, Text("none"), 0, ten, 10), SAR_FAIL);
    EXPECT_EQ(Read("data", 0, 100), expected);
}

TEST_F(Files, NamesAreUniqueAndFitTheInformationRecord)
{
    VerifyUser();
    ASSERT_EQ(Create("twice", 4), SAR_OK);
    LogTail log;
    EXPECT_EQ(Create("twice", 8), SAR_FAIL);
    EXPECT_TRUE(log.Has("SAR_FILE_ALREADY_EXIST twice"));
    std::string longest(32, 'n');
    EXPECT_EQ(Create(longest, 1), SAR_OK);
    EXPECT_EQ(Create(longest + "x", 1), SAR_FAIL);
    EXPECT_EQ(Create("", 1), SAR_FAIL);
    EXPECT_EQ(F.Create(m_app, nullptr, 1, 0, 0), SAR_FAIL);
    EXPECT_EQ(List(), (std::vector<std::string> {"twice", longest}));

    FILEATTRIBUTE info;
    std::memset(&info, 0x55, sizeof info);
    ASSERT_EQ(F.Info(m_app, Text(longest), &info), SAR_OK);
    EXPECT_EQ(std::string(info.FileName, 32), longest);
    EXPECT_EQ(info.FileSize, 1u);
}

TEST_F(Files, SizesAreBoundByTheReadBuffer)
{
    VerifyUser();
    EXPECT_EQ(Create("big", 30720), SAR_OK);
    EXPECT_EQ(Read("big", 30700, 100).size(), 20u);
    LogTail log;
    EXPECT_EQ(Create("bigger", 30721), SAR_FAIL);
    EXPECT_TRUE(log.Has("DF_CreateFile ERR[0xa000010]"));
    EXPECT_EQ(List(), std::vector<std::string> {"big"});
}

TEST_F(Files, ListingSizesTheBufferAndRefusesAShortOne)
{
    char one[4] = {'x', 'x', 'x', 'x'};
    ULONG size = sizeof one;
    ASSERT_EQ(F.Enum(m_app, one, &size), SAR_OK);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(std::string(one, 2), std::string("\0x", 2));

    VerifyUser();
    ASSERT_EQ(Create("a", 1), SAR_OK);
    ASSERT_EQ(Create("bc", 1), SAR_OK);
    size = 0;
    ASSERT_EQ(F.Enum(m_app, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 6u);
    std::vector<char> shortList(5, 'x');
    size = 5;
    EXPECT_EQ(F.Enum(m_app, shortList.data(), &size), SAR_FAIL);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(shortList, std::vector<char>(5, 'x'));
    EXPECT_EQ(F.Enum(m_app, shortList.data(), nullptr), SAR_FAIL);
}

TEST_F(Files, EveryFileMadeIsListedAndWritten)
{
    VerifyUser();
    for (int i = 0; i < 9; ++i) ASSERT_EQ(Create("f" + std::to_string(i), 1), SAR_OK);
    std::vector<std::string> listed = List();
    EXPECT_EQ(listed.size(), 9u);
    FILEATTRIBUTE info;
    EXPECT_EQ(F.Info(m_app, Text("f8"), &info), SAR_OK);
    BYTE one = 1;
    EXPECT_EQ(F.Write(m_app, Text("f8"), 0, &one, 1), SAR_OK);
}

TEST_F(Files, InformationGivesSizeAndFixedRights)
{
    VerifyUser();
    ASSERT_EQ(F.Create(m_app, Text("doc"), 300, 0x01, 0x01), SAR_OK);
    FILEATTRIBUTE info;
    std::memset(&info, 0x55, sizeof info);
    ASSERT_EQ(F.Info(m_app, Text("doc"), &info), SAR_OK);
    EXPECT_STREQ(info.FileName, "doc");
    EXPECT_EQ(info.FileSize, 300u);
    EXPECT_EQ(info.ReadRights, 0xFFu);
    EXPECT_EQ(info.WriteRights, 0x10u);
    LogTail log;
    EXPECT_EQ(F.Info(m_app, Text("gone"), &info), SAR_FAIL);
    EXPECT_TRUE(log.Has("gone NO FILE"));
    EXPECT_EQ(F.Info(m_app, Text("doc"), nullptr), SAR_FAIL);
}

TEST_F(Files, DeletedFileIsGoneAndMissingOneIsReported)
{
    VerifyUser();
    ASSERT_EQ(Create("temp", 5), SAR_OK);
    ASSERT_EQ(F.Delete(m_app, Text("temp")), SAR_OK);
    EXPECT_TRUE(List().empty());
    LogTail log;
    EXPECT_EQ(F.Delete(m_app, Text("temp")), SAR_FAIL);
    EXPECT_TRUE(log.Has("DF_DeleteFile ERR[0xa000031]"));
    ULONG len = 10;
    BYTE out[10];
    EXPECT_EQ(F.Read(m_app, Text("temp"), 0, 5, out, &len), SAR_FAIL);
}

TEST_F(Files, HandlesAreChecked)
{
    ULONG size = 0;
    BYTE data[4] = {};
    ULONG len = sizeof data;
    FILEATTRIBUTE info;
    EXPECT_EQ(F.Create(nullptr, Text("x"), 1, 0, 0), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(F.Delete(nullptr, Text("x")), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(F.Enum(nullptr, nullptr, &size), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(F.Info(nullptr, Text("x"), &info), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(F.Read(nullptr, Text("x"), 0, 1, data, &len), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(F.Write(nullptr, Text("x"), 0, data, 1), SAR_INVALIDHANDLEERR);
    ASSERT_EQ(Skf().SKF_DisConnectDev(m_app), SAR_OK);
    Forget(m_app);
    EXPECT_EQ(F.Enum(m_app, nullptr, &size), SAR_INVALIDHANDLEERR);
}

} // namespace
