// The logger's hex text and line limits, and the log level that
// config.ini beside the library sets when it is loaded.
#include "Logger.h"
#include "SkfFixture.h"

#include <cstring>

namespace {

using namespace skftest;

TEST(HexEncode, UpperCaseDigitsWithoutSeparators)
{
    const BYTE data[] = {0x01, 0xAB, 0xFF};
    char out[kHexOutputRoom];
    ASSERT_EQ(HexEncode(data, sizeof data, out), 0u);
    EXPECT_STREQ(out, "01ABFF");
    EXPECT_EQ(HexEncode(data, sizeof data, nullptr), kHexEncodeFailed);
}

TEST(HexEncode, AtMost20479BytesFitTheDumpBuffer)
{
    std::vector<BYTE> data(20480, 0x5C);
    std::vector<char> out(kHexOutputRoom, 'x');
    EXPECT_EQ(HexEncode(data.data(), 20480, out.data()), kHexEncodeFailed);
    ASSERT_EQ(HexEncode(data.data(), 20479, out.data()), 0u);
    EXPECT_EQ(std::strlen(out.data()), 40958u);
}

// The file is written in text mode: line ends arrive as CR LF.
std::string TextOf(const std::string& path)
{
    std::string text = ReadFrom(path, 0);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

class LoggerFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_prefix = tokentest::TempPath("skf-log");
        LogPathPrefix = m_prefix.c_str();
        LogLinePrefix = "TEST";
        SYSTEMTIME now;
        GetLocalTime(&now);
        char path[MAX_PATH];
        std::snprintf(path, sizeof path, "%s_%04d-%02d-%02d-%02d.log", m_prefix.c_str(), now.wYear, now.wMonth,
                      now.wDay, now.wHour);
        m_file = path;
        DeleteFileA(m_file.c_str());
    }
    void TearDown() override { DeleteFileA(m_file.c_str()); }
    std::string m_prefix, m_file;
};

TEST_F(LoggerFile, LongLineIsCutAndStillEnds)
{
    LogLevel = 4;
    std::string message(5000, 'a');
    LogMessage(LOG_ERROR, "%s", message.c_str());
    std::string text = TextOf(m_file);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.rfind("[ERROR] TEST ", 0), 0u);
    EXPECT_LE(text.size(), 4095u);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\n'), text.size() - 1);
}

TEST_F(LoggerFile, LevelsAboveTheThresholdOrOutOfRangeAreDropped)
{
    LogLevel = 2;
    LogMessage(LOG_INFO, "info");
    LogMessage(0, "zero");
    LogMessage(5, "five");
    LogMessage(LOG_WARN, "warn %d", 7);
    std::string text = TextOf(m_file);
    EXPECT_EQ(text.find("info"), std::string::npos);
    EXPECT_EQ(text.find("zero"), std::string::npos);
    EXPECT_EQ(text.find("five"), std::string::npos);
    EXPECT_NE(text.find("[WARN] TEST "), std::string::npos);
    EXPECT_NE(text.find("] warn 7\n"), std::string::npos);
}

// A private copy of the library with its own config.ini (or none), loaded
// for one case. This program's folder holds no vendor library.
class LibraryCopy {
public:
    explicit LibraryCopy(const char* ini)
    {
        m_dir = tokentest::TempPath("skf-config");
        CreateDirectoryA(m_dir.c_str(), nullptr);
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::strcpy(std::strrchr(self, '\\') + 1, "KeltoSKF.dll");
        m_dll = m_dir + "\\KeltoSKF.dll";
        CopyFileA(self, m_dll.c_str(), FALSE);
        m_ini = m_dir + "\\config.ini";
        if (ini) {
            FILE* f = std::fopen(m_ini.c_str(), "w");
            std::fputs(ini, f);
            std::fclose(f);
        }
    }
    ~LibraryCopy()
    {
        m_library.Unload();
        DeleteFileA(m_dll.c_str());
        DeleteFileA(m_ini.c_str());
        RemoveDirectoryA(m_dir.c_str());
    }
    SkfLibrary& Load()
    {
        std::wstring path(m_dll.begin(), m_dll.end());
        EXPECT_TRUE(m_library.Load(path.c_str()));
        return m_library;
    }

private:
    std::string m_dir, m_dll, m_ini;
    SkfLibrary m_library;
};

struct LevelCase {
    const char* name;
    const char* ini;
    bool errors;
    bool debug;
};

class ConfiguredLevel : public ::testing::TestWithParam<LevelCase> {
protected:
    static void SetUpTestSuite() { CreateDirectoryA(kLogFolder, nullptr); }
};

TEST_P(ConfiguredLevel, DecidesWhichLinesAreWritten)
{
    const LevelCase& c = GetParam();
    LibraryCopy copy(c.ini);
    LogTail log;
    SkfLibrary& skf = copy.Load();
    ASSERT_NE(skf.module, nullptr);
    EXPECT_EQ(skf.SKF_DevAuth(nullptr, nullptr, 0), SAR_OK);
    EXPECT_EQ(skf.SKF_ConnectDev(nullptr, nullptr), SAR_INVALIDPARAMERR);
    // Without the vendor library every token call fails, and the library
    // still loads.
    ULONG size = 0;
    EXPECT_EQ(skf.SKF_EnumDev(TRUE, nullptr, &size), SAR_FAIL);
    EXPECT_EQ(log.Has("[ERROR] LORVIN_GM "), c.errors);
    EXPECT_EQ(log.Has("\xCE\xDE\xB7\xA8\xBC\xD3\xD4\xD8\xB6\xAF\xCC\xAC\xBF\xE2"), c.errors);
    EXPECT_EQ(log.Has("Null Pointer: phDev"), c.errors);
    EXPECT_EQ(log.Has("[DEBUG] LORVIN_GM "), c.debug);
    EXPECT_EQ(log.Has("SKF_DevAuth start..."), c.debug);
    EXPECT_EQ(log.Has("SKF_DevAuth end..."), c.debug);
}

INSTANTIATE_TEST_SUITE_P(ConfigIni, ConfiguredLevel,
                         ::testing::Values(LevelCase {"NoFile", nullptr, true, true},
                                           LevelCase {"ErrorsOnly", "[exe_config]\nloglevel=1\n", true, false},
                                           LevelCase {"Nothing", "[exe_config]\nloglevel=0\n", false, false},
                                           LevelCase {"Debug", "[exe_config]\nloglevel=4\n", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
