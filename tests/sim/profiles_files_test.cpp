// Profile files of the simulation: the bytes written, the values read back
// by Wine's rules (the expected figures were measured under Wine 8), and
// failures that leave the old file whole.
#include "sim_windows.h"
#include "simctl.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

std::string FileBytes(const std::string &name) {
    std::string bytes;
    EXPECT_TRUE(sim::ReadWindowsFile(name, &bytes)) << name;
    return bytes;
}

bool FileExists(const std::string &name) {
    std::string bytes;
    return sim::ReadWindowsFile(name, &bytes);
}

class Profiles : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override {
        // Give write permission back so the next Reset can remove the folder.
        chmod(sim::WindowsDirectory().c_str(), 0755);
    }
};

// ---------------------------------------------------------------- writing

TEST_F(Profiles, FirstWriteCreatesFileSectionAndKeyWithCrlf) {
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("ScreenSaver.Vellomire", "Seconds", "20", "control.ini"));
    EXPECT_EQ("[ScreenSaver.Vellomire]\r\nSeconds=20\r\n", FileBytes("control.ini"));
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("ScreenSaver.Vellomire", "Paint", "1", "control.ini"));
    EXPECT_EQ("[ScreenSaver.Vellomire]\r\nSeconds=20\r\nPaint=1\r\n", FileBytes("control.ini"));
}

TEST_F(Profiles, ValueReplacedWholeAndKeyOrderKept) {
    sim::WriteWindowsFile("control.ini", "[S]\r\nA=1\r\nB=2\r\nC=3\r\n");
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("S", "b", "twenty two", "control.ini"));
    // The key keeps its own spelling; the value is the new text.
    EXPECT_EQ("[S]\r\nA=1\r\nB=twenty two\r\nC=3\r\n", FileBytes("control.ini"));
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("S", "B", "", "control.ini"));
    EXPECT_EQ("[S]\r\nA=1\r\nB=\r\nC=3\r\n", FileBytes("control.ini"));
}

TEST_F(Profiles, NewSectionAppendedAtTheEndAndOthersKept) {
    sim::WriteWindowsFile("control.ini",
                          "[Current]\r\ncolor schemes=Windows Standard\r\n\r\n[Patterns]\r\n; a comment\r\n"
                          "(None)=(None)\r\n");
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("ScreenSaver.Vellomire", "Seconds", "5", "control.ini"));
    // Rewritten from the parsed form: the blank line between sections goes,
    // the comment stays.
    EXPECT_EQ("[Current]\r\ncolor schemes=Windows Standard\r\n[Patterns]\r\n; a comment\r\n(None)=(None)\r\n"
              "[ScreenSaver.Vellomire]\r\nSeconds=5\r\n",
              FileBytes("control.ini"));
}

TEST_F(Profiles, LfFilesAndBlanksAroundEqualsAreRewrittenInWinesForm) {
    sim::WriteWindowsFile("control.ini", "  [S]  \nkey = value  \nlone line\n\n\nx=1\n");
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("S", "x", "2", "control.ini"));
    EXPECT_EQ("[S]\r\nkey=value\r\nlone line\r\nx=2\r\n", FileBytes("control.ini"));
}

TEST_F(Profiles, KeysBeforeTheFirstSectionStayFirst) {
    sim::WriteWindowsFile("control.ini", "top=1\r\n[S]\r\na=1\r\n");
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("T", "b", "2", "control.ini"));
    EXPECT_EQ("top=1\r\n[S]\r\na=1\r\n[T]\r\nb=2\r\n", FileBytes("control.ini"));
}

TEST_F(Profiles, LeadingBlanksOfTheValueAreNotStored) {
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("S", "k", "   7 ", "control.ini"));
    EXPECT_EQ("[S]\r\nk=7 \r\n", FileBytes("control.ini"));
}

TEST_F(Profiles, NullValueDeletesKeyAndNullKeyDeletesSection) {
    sim::WriteWindowsFile("control.ini", "[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n");
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("a", "X", nullptr, "control.ini"));
    EXPECT_EQ("[A]\r\ny=2\r\n[B]\r\nz=3\r\n", FileBytes("control.ini"));
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("A", nullptr, nullptr, "control.ini"));
    EXPECT_EQ("[B]\r\nz=3\r\n", FileBytes("control.ini"));
    // Deleting what isn't there succeeds and leaves the file as it is.
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("Nope", "k", nullptr, "control.ini"));
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("Nope", nullptr, nullptr, "control.ini"));
    EXPECT_EQ("[B]\r\nz=3\r\n", FileBytes("control.ini"));
}

TEST_F(Profiles, UnchangedValueDoesNotTouchTheFile) {
    sim::WriteWindowsFile("control.ini", "[S]\nk=1\n\n");
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("S", "k", "1", "control.ini"));
    EXPECT_EQ("[S]\nk=1\n\n", FileBytes("control.ini"));
    // Deleting a key of an absent file doesn't create it.
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("S", "k", nullptr, "other.ini"));
    EXPECT_FALSE(FileExists("other.ini"));
}

TEST_F(Profiles, FileNamesAreFoundWithoutCase) {
    sim::WriteWindowsFile("CONTROL.INI", "[S]\r\nk=1\r\n");
    EXPECT_EQ(1u, GetPrivateProfileIntA("s", "K", 9, "control.ini"));
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("S", "k", "2", "Control.Ini"));
    EXPECT_EQ("[S]\r\nk=2\r\n", FileBytes("CONTROL.INI"));
}

TEST_F(Profiles, ReadOnlyFileRefusedWithAccessDeniedAndKeptWhole) {
    sim::WriteWindowsFile("control.ini", "[S]\r\nk=1\r\n");
    std::string path = sim::WindowsDirectory() + "/control.ini";
    ASSERT_EQ(0, chmod(path.c_str(), 0444));
    SetLastError(0);
    EXPECT_EQ(FALSE, WritePrivateProfileStringA("S", "k", "2", "control.ini"));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ("[S]\r\nk=1\r\n", FileBytes("control.ini"));
    EXPECT_EQ(1u, GetPrivateProfileIntA("S", "k", 0, "control.ini"));
}

TEST_F(Profiles, ReadOnlyFolderRefusesANewFile) {
    ASSERT_EQ(0, chmod(sim::WindowsDirectory().c_str(), 0555));
    SetLastError(0);
    EXPECT_EQ(FALSE, WritePrivateProfileStringA("S", "k", "2", "control.ini"));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_FALSE(FileExists("control.ini"));
}

TEST_F(Profiles, InjectedFailureWritesNothing) {
    sim::WriteWindowsFile("control.ini", "[S]\r\nk=1\r\n");
    sim::FailCall("WritePrivateProfileStringA", 1);
    EXPECT_EQ(FALSE, WritePrivateProfileStringA("S", "k", "2", "control.ini"));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ("[S]\r\nk=1\r\n", FileBytes("control.ini"));
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("S", "k", "2", "control.ini"));
    EXPECT_EQ("[S]\r\nk=2\r\n", FileBytes("control.ini"));
}

TEST_F(Profiles, BinaryFileNeitherCrashesNorBreaksTheWrite) {
    static const char junk[] = "\x00\x01\xff\xfe[S]\x00x\r\nk\x00=1\r\n\x1a\x1a";
    sim::WriteWindowsFile("control.ini", std::string(junk, sizeof junk - 1));
    EXPECT_EQ(7u, GetPrivateProfileIntA("S", "k", 7, "control.ini"));
    char buffer[16] = "unchanged";
    EXPECT_EQ(0u, GetPrivateProfileStringA("S", "k", "", buffer, sizeof buffer, "control.ini"));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("ScreenSaver.Vellomire", "Paint", "0", "control.ini"));
    // Names and values end at a NUL byte, as Wine's C strings do: the first
    // line becomes an empty key, the second "k" with the value 1.
    EXPECT_EQ("\r\nk=1\r\n[ScreenSaver.Vellomire]\r\nPaint=0\r\n", FileBytes("control.ini"));
    EXPECT_EQ(0u, GetPrivateProfileIntA("ScreenSaver.Vellomire", "Paint", 5, "control.ini"));
}

// Files with a byte-order mark are text in their encoding, and stay in it.
TEST_F(Profiles, ByteOrderMarksAreReadAndKept) {
    const std::string text = "[S]\r\nk=1\r\n", written = "[S]\r\nk=2\r\n";
    auto utf16 = [](const std::string &t, bool little) {
        std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
        for (char c : t) {
            bytes += little ? c : '\0';
            bytes += little ? '\0' : c;
        }
        return bytes;
    };
    const std::pair<std::string, std::string> files[] = {
        {utf16(text, true), utf16(written, true)},
        {utf16(text, false), utf16(written, false)},
        {"\xEF\xBB\xBF" + text, "\xEF\xBB\xBF" + written},
    };
    for (const auto &file : files) {
        sim::WriteWindowsFile("control.ini", file.first);
        EXPECT_EQ(1u, GetPrivateProfileIntA("S", "k", 10, "control.ini"));
        EXPECT_EQ(TRUE, WritePrivateProfileStringA("S", "k", "2", "control.ini"));
        EXPECT_EQ(file.second, FileBytes("control.ini"));
    }
    // A character a single byte can't hold reads as '?'.
    sim::WriteWindowsFile("control.ini", std::string("\xFF\xFE[\0S\0]\0\n\0k\0=\0\x3A\x26", 16));
    char buffer[8];
    EXPECT_EQ(1u, GetPrivateProfileStringA("S", "k", "", buffer, sizeof buffer, "control.ini"));
    EXPECT_STREQ("?", buffer);
}

// ---------------------------------------------------------------- reading integers

struct IntCase {
    const char *text;   // the value text; null: no key at all
    INT defaultValue;
    UINT expected;
};

TEST_F(Profiles, IntegersAreReadAsWineReadsThem) {
    const IntCase cases[] = {
        {nullptr, 10, 10u},               // no key: the default
        {nullptr, -5, 0xFFFFFFFBu},       // the default comes back as UINT
        {"20", 10, 20u},
        {"-1", 10, 0xFFFFFFFFu},
        {"+12", 10, 12u},
        {"  42  ", 10, 42u},
        {"\"33\"", 10, 33u},              // one pair of quotes removed
        {"'8'", 10, 8u},
        {"", 10, 10u},                    // empty value: the default (Wine; NT gives 0)
        {"abc", 10, 0u},                  // text without digits: 0
        {"12abc", 10, 12u},
        {"0x10", 10, 16u},                // lower-case prefixes choose the base
        {"+0x1A", 10, 26u},
        {"-0x10", 10, 0xFFFFFFF0u},
        {"0X1F", 10, 0u},                 // not an upper-case one
        {"0o17", 10, 15u},
        {"0b101", 10, 5u},
        {"0x", 10, 0u},
        {"0x1g", 10, 1u},
        {"010", 10, 10u},                 // a leading zero is no octal prefix
        {"007", 10, 7u},
        {"1e3", 10, 1u},
        {"99999999999999999999", 10, 1661992959u},
        {"4294967296", 10, 0u},           // modulo 2^32
        {"4294967297", 10, 1u},
        {"-4294967297", 10, 0xFFFFFFFFu},
        {"2147483647", 10, 2147483647u},
        {"2147483648", 10, 2147483648u},
        {"- 5", 10, 0u},                  // the sign must touch the digits
        {"--5", 10, 0u},
        // Only 29 characters are read: the rest is cut off first.
        {"11111111111111111111111111111999", 10, 1729917383u},  // 29 ones mod 2^32
    };
    for (const IntCase &c : cases) {
        std::string content = "[S]\r\n";
        if (c.text != nullptr) content += std::string("k=") + c.text + "\r\n";
        sim::WriteWindowsFile("test.ini", content);
        EXPECT_EQ(c.expected, GetPrivateProfileIntA("S", "k", c.defaultValue, "test.ini"))
            << "value " << (c.text ? c.text : "(none)");
    }
}

TEST_F(Profiles, AbsentFileOrSectionGivesTheDefault) {
    EXPECT_EQ(10u, GetPrivateProfileIntA("ScreenSaver.Vellomire", "Seconds", 10, "control.ini"));
    sim::WriteWindowsFile("control.ini", "[Other]\r\nSeconds=3\r\n");
    EXPECT_EQ(20u, GetPrivateProfileIntA("ScreenSaver.Vellomire", "Seconds", 20, "control.ini"));
    EXPECT_EQ(3u, GetPrivateProfileIntA("  other ", "SECONDS", 20, "control.ini"));
}

TEST_F(Profiles, FirstOfTwoEqualSectionsAndKeysWins) {
    sim::WriteWindowsFile("control.ini", "[S]\r\nk=1\r\nk=2\r\n[s]\r\nk=3\r\nj=4\r\n");
    EXPECT_EQ(1u, GetPrivateProfileIntA("S", "k", 0, "control.ini"));
    EXPECT_EQ(9u, GetPrivateProfileIntA("S", "j", 9, "control.ini"));
}

// ---------------------------------------------------------------- reading strings

TEST_F(Profiles, StringsAreCutToTheBufferAndCountedWithoutTheZero) {
    sim::WriteWindowsFile("control.ini", "[S]\r\nk=123456789\r\n");
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(4u, GetPrivateProfileStringA("S", "k", "", buffer, 5, "control.ini"));
    EXPECT_EQ(std::string("1234\0xxx", 8), std::string(buffer, 8));
    EXPECT_EQ(4u, GetPrivateProfileStringA("S", "missing", "dflt  ", buffer, 8, "control.ini"));
    EXPECT_STREQ("dflt", buffer);
    EXPECT_EQ(7u, GetPrivateProfileStringA("S", "missing", "0123456789", buffer, 8, "control.ini"));
    EXPECT_STREQ("0123456", buffer);
}

TEST_F(Profiles, DefaultsLoseTrailingSpacesOnly) {
    char buffer[32];
    EXPECT_EQ(6u, GetPrivateProfileStringA("S", "k", "  dflt  ", buffer, sizeof buffer, "none.ini"));
    EXPECT_STREQ("  dflt", buffer);
    EXPECT_EQ(0u, GetPrivateProfileStringA("S", "k", nullptr, buffer, sizeof buffer, "none.ini"));
    EXPECT_STREQ("", buffer);
}

TEST_F(Profiles, SectionAndKeyListsAreDoubleZeroTerminated) {
    sim::WriteWindowsFile("control.ini", "[A]\r\nx=1\r\ny=2\r\n[B]\r\n");
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(4u, GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, "control.ini"));
    EXPECT_EQ(std::string("A\0B\0\0", 5), std::string(buffer, 5));
    EXPECT_EQ(4u, GetPrivateProfileStringA("a", nullptr, "", buffer, sizeof buffer, "control.ini"));
    EXPECT_EQ(std::string("x\0y\0\0", 5), std::string(buffer, 5));
    // Too small: as much as fits, two zeros, and size - 2.
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(2u, GetPrivateProfileStringA("A", nullptr, "", buffer, 4, "control.ini"));
    EXPECT_EQ(std::string("x\0\0\0x", 5), std::string(buffer, 5));
}

TEST_F(Profiles, CallsAreLoggedWithTheirArguments) {
    sim::ClearLog();
    GetPrivateProfileIntA("ScreenSaver.Vellomire", "Seconds", 10, "control.ini");
    WritePrivateProfileStringA("ScreenSaver.Vellomire", "Paint", "1", "control.ini");
    std::vector<std::string> texts;
    for (const sim::Event &e : sim::Log())
        if (e.kind == sim::EventKind::Call) texts.push_back(e.text);
    const std::vector<std::string> expected = {
        "GetPrivateProfileIntA(\"ScreenSaver.Vellomire\", \"Seconds\", 10, \"control.ini\") = 10",
        "WritePrivateProfileStringA(\"ScreenSaver.Vellomire\", \"Paint\", \"1\", \"control.ini\") = 1",
    };
    EXPECT_EQ(expected, texts);
}

// ---------------------------------------------------------------- the folder

TEST_F(Profiles, WindowsDirectoryIsAFreshFolderPerReset) {
    std::string first = sim::WindowsDirectory();
    WritePrivateProfileStringA("S", "k", "1", "control.ini");
    sim::Reset();
    std::string second = sim::WindowsDirectory();
    EXPECT_NE(first, second);
    struct stat st {};
    EXPECT_NE(0, stat(first.c_str(), &st)) << "the previous world's folder is removed";
    EXPECT_FALSE(FileExists("control.ini"));
    char buffer[MAX_PATH];
    UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
    EXPECT_EQ(second, std::string(buffer));
    EXPECT_EQ(second.size(), size_t(length));
    EXPECT_EQ(UINT(second.size() + 1), GetWindowsDirectoryA(buffer, 3));
}

// Run as a process of its own by the next test.
TEST(ProfileFolders, FirstResetOfAProcess) {
    sim::Reset();
    EXPECT_FALSE(sim::WindowsDirectory().empty());
}

TEST(ProfileFolders, FoldersOfEndedProcessesAreRemovedByTheNextProcess) {
    // A process that has ended: its id is free until it is reused.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(0);
    ASSERT_EQ(child, waitpid(child, nullptr, 0));
    const char *tmp = std::getenv("TMPDIR");
    std::string parent = tmp && *tmp ? tmp : "/tmp";
    std::string abandoned = parent + "/vellomire-windows-" + std::to_string(child) + "-test";
    std::string living = parent + "/vellomire-windows-" + std::to_string(getpid()) + "-test";
    ASSERT_EQ(0, mkdir(abandoned.c_str(), 0755));
    ASSERT_EQ(0, mkdir(living.c_str(), 0755));
    std::FILE *f = std::fopen((abandoned + "/control.ini").c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fclose(f);
    std::string command = "'/proc/" + std::to_string(getpid()) +
                          "/exe' --gtest_filter=ProfileFolders.FirstResetOfAProcess > /dev/null 2>&1";
    EXPECT_EQ(0, std::system(command.c_str()));
    struct stat st {};
    EXPECT_NE(0, stat(abandoned.c_str(), &st)) << "the ended process's folder is gone";
    EXPECT_EQ(0, stat(living.c_str(), &st)) << "a running process's folder stays";
    rmdir(living.c_str());
    std::remove((abandoned + "/control.ini").c_str());
    rmdir(abandoned.c_str());
}

TEST_F(Profiles, ConfiguredWindowsDirectoryIsUsedAndKept) {
    std::string dir = sim::WindowsDirectory() + "-configured";
    sim::Config config;
    config.windowsDir = dir;
    sim::Reset(config);
    EXPECT_EQ(dir, sim::WindowsDirectory());
    EXPECT_EQ(TRUE, WritePrivateProfileStringA("S", "k", "1", "control.ini"));
    std::string bytes;
    std::FILE *f = std::fopen((dir + "/control.ini").c_str(), "rb");
    ASSERT_NE(nullptr, f);
    char data[64];
    size_t n = std::fread(data, 1, sizeof data, f);
    std::fclose(f);
    EXPECT_EQ("[S]\r\nk=1\r\n", std::string(data, n));
    sim::Reset();
    EXPECT_EQ(0, std::remove((dir + "/control.ini").c_str())) << "a configured folder is not removed";
    rmdir(dir.c_str());
}

}  // namespace
