// The log is truncated and written as administrator in a folder that Users may write: a name that
// is a link, or a file with a second name elsewhere, must be refused without touching what it
// leads to (the run then goes on without a log).
#include "log/log.h"

#include "common/unique_handle.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace tendril {
namespace {

using test::exists;
using test::readFile;
using test::ScratchFolder;
using test::unixPath;
using test::writeFile;

// Something is at the name, even a link that leads nowhere: a fresh create fails there.
bool nameTaken(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ::GetLastError() == ERROR_FILE_EXISTS;
    file.reset();
    ::DeleteFileW(path.c_str());
    return false;
}

// A native symbolic link made with ln -s (Wine runs the program detached: wait for its effect).
// Removed again with the native rm: under Wine DeleteFileW on a file link deletes its target.
// Each step leaves a marker file once it has run, and only the marker is waited for: probing the
// name itself while ln may still be starting would create a file there first, and ln would then
// find the name taken.
class UnixLink {
public:
    UnixLink(const std::wstring& target, const std::wstring& link) : link_(link) {
        test::runUnix("/bin/sh", {"-c", "ln -s $0 $1; touch $1.made", unixPath(target),
                                  unixPath(link)});
        made_ = test::pollUntil([&] { return exists(link + L".made"); }) && nameTaken(link);
    }
    ~UnixLink() {
        test::runUnix("/bin/sh", {"-c", "rm -f $0 $0.made; touch $0.gone", unixPath(link_)});
        test::pollUntil([&] { return exists(link_ + L".gone"); });
        ::DeleteFileW((link_ + L".gone").c_str());
    }
    UnixLink(const UnixLink&) = delete;
    UnixLink& operator=(const UnixLink&) = delete;
    bool made() const { return made_; }

private:
    std::wstring link_;
    bool made_ = false;
};

const std::string kSystemBytes = "a file that is not ours\r\n";

// What lies outside the log's folder: a file, a folder holding a file, and a name with nothing
// at it.
class LogLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(writeFile(systemFile, kSystemBytes));
        ASSERT_TRUE(::CreateDirectoryW(systemFolder.c_str(), nullptr));
        ASSERT_TRUE(writeFile(systemFolder + L"\\keep.txt", kSystemBytes));
    }
    // Open refuses, and nothing outside changed: no byte, no new file.
    void expectRefusedUntouched() {
        CLogImplW log;
        EXPECT_FALSE(log.Open(logPath.c_str()));
        EXPECT_FALSE(log.IsOpen());
        EXPECT_FALSE(log.WriteLine(L"written through", true));
        EXPECT_EQ(readFile(systemFile), kSystemBytes);
        EXPECT_EQ(readFile(systemFolder + L"\\keep.txt"), kSystemBytes);
        EXPECT_FALSE(exists(missingFile)) << "created through the link";
    }

    ScratchFolder outside{L"logoutside"};
    ScratchFolder folder{L"loglink"};
    std::wstring systemFile = outside / L"system.dat";
    std::wstring systemFolder = outside / L"config";
    std::wstring missingFile = outside / L"missing.dll";
    std::wstring logPath = folder / L"tendril.exe.log";
};

TEST_F(LogLinkTest, ASecondNameOfAnotherFileIsRefused) {
    ASSERT_TRUE(::CreateHardLinkW(logPath.c_str(), systemFile.c_str(), nullptr))
        << ::GetLastError();
    expectRefusedUntouched();
    EXPECT_EQ(readFile(logPath), kSystemBytes);
}

// Under Wine a link made with ln -s opens as what it points to, and a file link even looks like
// a plain file; the log is still refused because the file is not found at the log's own name.
TEST_F(LogLinkTest, ALinkOfAnyKindIsRefused) {
    struct Case {
        const char* what;
        std::wstring target;
    };
    const Case cases[] = {
        {"a link to a file", systemFile},
        {"a link to a folder", systemFolder},
        {"a link to nothing (Open must not create its target)", missingFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const UnixLink link(c.target, logPath);
        EXPECT_TRUE(link.made()) << "the native ln -s made no link";
        if (link.made()) expectRefusedUntouched();
    }
}

// On Windows a symbolic link is opened as itself and shows the reparse-point attribute. Wine 8.0
// cannot show that: CreateSymbolicLinkW returns TRUE and creates nothing.
TEST_F(LogLinkTest, ASymbolicLinkMadeByWindowsIsRefused) {
    ::CreateSymbolicLinkW(logPath.c_str(), systemFile.c_str(), 0);
    if (!nameTaken(logPath))
        GTEST_SKIP() << "CreateSymbolicLinkW made no link (Wine 8.0 returns TRUE and creates "
                        "nothing): the reparse-point check of a Windows symbolic link cannot be "
                        "shown here";
    expectRefusedUntouched();
}

// What is plainly the log's own file is still used, however its name is written: an earlier log
// is truncated, a missing one is made.
TEST_F(LogLinkTest, APlainFileOfItsOwnIsUsed) {
    struct Case {
        const char* what;
        std::wstring name;
        bool earlier;  // a log of an earlier run is there
    };
    const Case cases[] = {
        {"an earlier log", logPath, true},
        {"no log yet", logPath, false},
        {"a name with a \\.\\ in it", folder.path() + L"\\.\\tendril.exe.log", true},
        {"a name in other letter case", folder.path() + L"\\TENDRIL.EXE.LOG", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::DeleteFileW(logPath.c_str());
        if (c.earlier) {
            ASSERT_TRUE(writeFile(logPath, "an earlier run\r\n"));
        }
        CLogImplW log;
        ASSERT_TRUE(log.Open(c.name.c_str()));
        log.SetUtf8Output(true);
        EXPECT_TRUE(log.WriteLine(L"this run", true));
        EXPECT_TRUE(log.Close());
        EXPECT_EQ(readFile(logPath), "this run\r\n");
    }
}

}  // namespace
}  // namespace tendril
