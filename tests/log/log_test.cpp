// CLogImplW on files of a scratch folder: what lands in the file, byte for byte.
#include "log/log.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <regex>
#include <string>

namespace tendril {
namespace {

using test::readFile;
using test::ScratchFolder;
using test::writeFile;

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

// A log of its own on "<scratch>\run.log", UTF-8 output on (as the program runs it).
class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(log.Open(path.c_str()));
        log.SetUtf8Output(true);
    }
    // What is on disk now (the log keeps the file open with read sharing).
    std::string bytes() const { return readFile(path); }

    ScratchFolder folder{L"log"};
    std::wstring path = folder / L"run.log";
    CLogImplW log;  // declared after the folder: closed before the folder is removed
};

TEST(LogOpen, TruncatesAnExistingLogAndRefusesASecondOpen) {
    ScratchFolder folder(L"log");
    const std::wstring path = folder / L"run.log";
    ASSERT_TRUE(writeFile(path, "an earlier run\r\nwith two lines\r\n"));

    CLogImplW log;
    EXPECT_FALSE(log.IsOpen());
    ASSERT_TRUE(log.Open(path.c_str()));
    EXPECT_TRUE(log.IsOpen());
    EXPECT_EQ(readFile(path), "");  // truncated at open, before anything is written

    EXPECT_FALSE(log.Open(path.c_str()));  // already open
    EXPECT_FALSE(log.Open(nullptr));
    log.SetUtf8Output(true);
    ASSERT_TRUE(log.WriteLine(L"new", true));
    EXPECT_TRUE(log.Close());
    EXPECT_FALSE(log.IsOpen());
    EXPECT_FALSE(log.Close());
    EXPECT_EQ(readFile(path), "new\r\n");

    // A second run on the same file starts from zero bytes again.
    ASSERT_TRUE(log.Open(path.c_str()));
    ASSERT_TRUE(log.WriteLine(L"second", true));
    ASSERT_TRUE(log.Close());
    EXPECT_EQ(readFile(path), "second\r\n");
}

TEST(LogOpen, CreatesAMissingFileAndFailsInAMissingFolder) {
    ScratchFolder folder(L"log");
    CLogImplW log;
    EXPECT_FALSE(log.Open((folder / L"no such folder\\run.log").c_str()));
    EXPECT_FALSE(log.IsOpen());

    const std::wstring path = folder / L"fresh.log";
    ASSERT_TRUE(log.Open(path.c_str()));
    EXPECT_TRUE(test::exists(path));
    EXPECT_TRUE(log.Close());
}

TEST(LogClosed, EveryOperationFails) {
    CLogImplW log;
    log.SetUtf8Output(true);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_FALSE(log.Close());
    EXPECT_FALSE(log.Clear());
    EXPECT_FALSE(log.WriteBanner(L"tendril started", true));
    EXPECT_FALSE(log.WriteSeparator());
    EXPECT_FALSE(log.WriteLine(L"text", true));
    EXPECT_FALSE(log.WriteTimestamp());
    EXPECT_FALSE(log.WriteTimestampBanner());
    EXPECT_FALSE(log.WriteEmptyLines(1));
    EXPECT_FALSE(log.Write(8, L"text"));
    log.SetUtf8Output(false);
    EXPECT_FALSE(log.Write(8, L"text"));
    // Suspending a closed log does not turn failures into successes.
    EXPECT_TRUE(log.SetSuspended(true));
    EXPECT_FALSE(log.WriteLine(L"text", true));
    EXPECT_FALSE(log.WriteBanner(L"text", true));
}

TEST_F(LogFileTest, NullTextIsRefused) {
    EXPECT_FALSE(log.WriteLine(nullptr, true));
    EXPECT_FALSE(log.WriteBanner(nullptr, true));
    EXPECT_FALSE(log.Write(4, nullptr));
    EXPECT_EQ(bytes(), "");
}

struct BannerCase {
    int length;     // characters of text
    int left;       // '=' before the space that opens the text
    int right;      // '=' after the space that closes the text
    bool longForm;  // "=== text ===" instead of the 80-character line
};

TEST_F(LogFileTest, BannerCentresTheTextOrFallsBackToTheShortFrame) {
    const BannerCase cases[] = {
        {0, 39, 39, false},  {1, 38, 39, false}, {15, 31, 32, false},
        {25, 26, 27, false}, {74, 2, 2, false},  {75, 1, 2, false},
        {76, 3, 3, true},    {77, 3, 3, true},   {120, 3, 3, true},
    };
    std::string expected;
    for (const BannerCase& c : cases) {
        std::wstring text;
        std::string text8;
        for (int i = 0; i < c.length; ++i) {
            text += static_cast<wchar_t>(L'a' + i % 26);
            text8 += static_cast<char>('a' + i % 26);
        }
        SCOPED_TRACE(c.length);
        ASSERT_TRUE(log.WriteBanner(text.c_str(), true));
        const std::string line = repeat('=', c.left) + " " + text8 + " " + repeat('=', c.right);
        if (!c.longForm) {
            EXPECT_EQ(line.size(), 80u);
        }
        expected += line + "\r\n";
        EXPECT_EQ(bytes(), expected);
    }
}

TEST_F(LogFileTest, StartBannerIsEightyCharactersWide) {
    ASSERT_TRUE(log.WriteBanner(L"tendril started", true));
    EXPECT_EQ(bytes(), repeat('=', 31) + " tendril started " + repeat('=', 32) + "\r\n");
}

TEST_F(LogFileTest, BannerWithoutLineEndAndWithNonAsciiText) {
    ASSERT_TRUE(log.WriteBanner(L"\u00e9t\u00e9", false));  // 3 characters, 5 UTF-8 bytes
    EXPECT_EQ(bytes(), repeat('=', 37) + " \xC3\xA9t\xC3\xA9 " + repeat('=', 38));
}

TEST_F(LogFileTest, TextIsUtf8WithoutByteOrderMarkAndLinesEndWithCrLf) {
    ASSERT_TRUE(log.WriteLine(L"C:\\Programme\\Caf\u00e9 \u00c5ngstr\u00f6m", true));
    ASSERT_TRUE(log.WriteLine(L"\u4e2d\u6587 \U0001F600", false));
    ASSERT_TRUE(log.WriteLine(L" tail", true));
    ASSERT_TRUE(log.WriteLine(L"", true));
    EXPECT_EQ(bytes(),
              "C:\\Programme\\Caf\xC3\xA9 \xC3\x85ngstr\xC3\xB6m\r\n"
              "\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80 tail\r\n"
              "\r\n");
}

TEST_F(LogFileTest, Utf8WriteTakesTheTerminatedStringWhateverTheByteCount) {
    ASSERT_TRUE(log.Write(0, L"abc"));
    ASSERT_TRUE(log.Write(2, L"\u00fc"));
    EXPECT_EQ(bytes(), "abc\xC3\xBC");
}

// Without UTF-8 output the text goes out as UTF-16LE: every character, and nothing else (no
// terminator between the pieces of a line).
TEST_F(LogFileTest, Utf16OutputWritesTheCharactersOnly) {
    log.SetUtf8Output(false);
    ASSERT_TRUE(log.Write(4, L"abc"));  // the raw write takes exactly the bytes it is given
    EXPECT_EQ(bytes(), std::string("a\0b\0", 4));

    ASSERT_TRUE(log.Clear());
    ASSERT_TRUE(log.WriteLine(L"ab", true));
    EXPECT_EQ(bytes(), std::string("a\0b\0\r\0\n\0", 8));
}

TEST_F(LogFileTest, SeparatorIsEightyEqualSigns) {
    ASSERT_TRUE(log.WriteSeparator());
    EXPECT_EQ(bytes(), repeat('=', 80) + "\r\n");
}

TEST_F(LogFileTest, EmptyLinesOnlyFromOneToTen) {
    struct Case {
        int count;
        bool result;
    };
    const Case cases[] = {{0, false}, {11, false}, {-1, false}, {1, true}, {10, true}, {3, true}};
    std::string expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        EXPECT_EQ(log.WriteEmptyLines(c.count), c.result);
        if (c.result)
            for (int i = 0; i < c.count; ++i) expected += "\r\n";
        EXPECT_EQ(bytes(), expected);
    }
}

TEST_F(LogFileTest, SuspendedWritesSucceedWithoutWriting) {
    ASSERT_TRUE(log.WriteLine(L"before", true));
    EXPECT_FALSE(log.IsSuspended());
    EXPECT_FALSE(log.SetSuspended(false));  // already so
    EXPECT_TRUE(log.SetSuspended(true));
    EXPECT_FALSE(log.SetSuspended(true));
    EXPECT_TRUE(log.IsSuspended());

    EXPECT_TRUE(log.WriteLine(L"dropped", true));
    EXPECT_TRUE(log.WriteBanner(L"dropped", true));
    EXPECT_TRUE(log.WriteSeparator());
    EXPECT_TRUE(log.WriteTimestamp());
    EXPECT_TRUE(log.WriteTimestampBanner());
    EXPECT_TRUE(log.WriteEmptyLines(2));
    EXPECT_FALSE(log.WriteEmptyLines(0));  // the count is checked before the suspension
    EXPECT_EQ(bytes(), "before\r\n");

    EXPECT_TRUE(log.SetSuspended(false));
    ASSERT_TRUE(log.WriteLine(L"after", true));
    EXPECT_EQ(bytes(), "before\r\nafter\r\n");
}

TEST_F(LogFileTest, ClearEmptiesTheFileAndWritingStartsAgainAtZero) {
    ASSERT_TRUE(log.WriteLine(L"first line that is long", true));
    ASSERT_TRUE(log.Clear());
    EXPECT_EQ(bytes(), "");
    ASSERT_TRUE(log.WriteLine(L"x", true));
    EXPECT_EQ(bytes(), "x\r\n");
}

TEST_F(LogFileTest, TimestampsUseDayMonthYearAndTime) {
    SYSTEMTIME before;
    ::GetLocalTime(&before);
    ASSERT_TRUE(log.WriteTimestamp());
    ASSERT_TRUE(log.WriteTimestampBanner());
    SYSTEMTIME after;
    ::GetLocalTime(&after);
    if (before.wDay != after.wDay) GTEST_SKIP() << "the date changed while writing";

    const std::string content = bytes();
    char date[32];
    std::snprintf(date, sizeof date, "%d/%d/%d -- ", before.wDay, before.wMonth, before.wYear);
    const std::string d = date;
    // The plain timestamp: no line end, two spaces and a colon after the time.
    const std::regex stamp("^" + d + R"(\d\d:\d\d:\d\d  :)");
    EXPECT_TRUE(std::regex_search(content, stamp)) << content;
    // The banner: the time stamp without the colon, centred in 80 characters, then CR LF.
    const std::size_t bannerStart = d.size() + 11;
    ASSERT_GE(content.size(), bannerStart);
    const std::string banner = content.substr(bannerStart);
    const std::size_t n = d.size() + 8;  // "hh:mm:ss"
    const std::size_t left = (78 - n) / 2;
    const std::regex framed("^" + repeat('=', left) + " " + d + R"(\d\d:\d\d:\d\d )" +
                            repeat('=', 80 - left - n - 2) + "\r\n$");
    EXPECT_TRUE(std::regex_search(banner, framed)) << banner;
}

// theLog and the line pattern every caller uses.
class TheLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(theLog.IsOpen());
        ASSERT_TRUE(theLog.Open(path.c_str()));
        theLog.SetUtf8Output(true);
        theLog.SetAutoFlush(true);
    }
    void TearDown() override {
        theLog.SetSuspended(false);
        theLog.Close();
    }

    ScratchFolder folder{L"log"};
    std::wstring path = folder / L"tendril.exe.log";
};

TEST_F(TheLogTest, LogTextWritesPiecesAndEndsTheLineOnRequest) {
    logText(L"OpenPipe '", false);
    logText(L"\\\\.\\pipe\\launcher_tendril.exe", false);
    logText(L"' - ", false);
    logText(L"ok", true);
    logText(nullptr, true);
    logText(L"Pipe closed", true);
    EXPECT_EQ(readFile(path),
              "OpenPipe '\\\\.\\pipe\\launcher_tendril.exe' - ok\r\nPipe closed\r\n");
}

TEST_F(TheLogTest, LogFormatTruncatesAt255Characters) {
    logFormat(true, L"InstallClient: index = %d", -1);
    logFormat(true, L"%ls|%ls", L"\u00e9", L"x");
    const std::wstring longText(300, L'w');
    logFormat(true, L"%ls", longText.c_str());
    EXPECT_EQ(readFile(path),
              "InstallClient: index = -1\r\n\xC3\xA9|x\r\n" + std::string(255, 'w') + "\r\n");
}

TEST_F(TheLogTest, LogTextWithUtf16OutputWritesTheCharactersOnly) {
    theLog.SetUtf8Output(false);
    logText(L"a", false);
    logText(L"b", true);
    theLog.SetUtf8Output(true);
    EXPECT_EQ(readFile(path), std::string("a\0b\0\r\0\n\0", 8));
}

TEST_F(TheLogTest, NothingIsWrittenWhileSuspendedOrClosed) {
    ASSERT_TRUE(theLog.SetSuspended(true));
    logText(L"suspended", true);
    logFormat(true, L"%d", 1);
    ASSERT_TRUE(theLog.SetSuspended(false));
    logText(L"kept", true);
    ASSERT_TRUE(theLog.Close());
    logText(L"closed", true);
    EXPECT_EQ(readFile(path), "kept\r\n");
}

}  // namespace
}  // namespace tendril
