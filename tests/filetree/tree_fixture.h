// Helpers of the file-tree tests: building small trees, reading back what stayed, the state the
// walks share with the rest of the process, and the Wine-visible traces of a security change.
#pragma once

#include "filetree/walk_context.h"
#include "support/security_traces.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace tendril::test {

// Creates entries beneath root, in order: a name ending in "\" is a folder, any other a file
// holding its own name.
void makeEntries(const std::wstring& root, std::initializer_list<std::wstring> entries);

// Everything beneath root, as sorted relative names, folders ending in "\" and links in "@".
// Never lists what lies behind a link.
std::vector<std::wstring> listTree(const std::wstring& root);

// Names in one folder in the order the file system lists them (no "." and "..").
std::vector<std::wstring> listingOrder(const std::wstring& folder);

// denyOthersOn (support/security_traces.h) on path and everything beneath it, never through a
// link.
bool denyOthers(const std::wstring& path);

// Native links, made with ln and waited for (under Wine a Unix program runs detached). A
// directory link made with ln -s shows FILE_ATTRIBUTE_REPARSE_POINT; true when it does.
bool makeUnixDirectoryLink(const std::wstring& target, const std::wstring& link);
bool makeUnixHardLink(const std::wstring& existing, const std::wstring& link);
// Runs a native program and waits (up to 5 s) until done() holds; done()'s last answer.
bool runUnixAndWait(const std::string& program, const std::vector<std::string>& arguments,
                    const std::function<bool()>& done);
// Removes a link itself with the native rm and waits until it is gone.
void removeLinkUnix(const std::wstring& link);

// The descriptor's access list, exactly.
inline constexpr wchar_t kUsersDaclText[] =
    L"D:(A;OICI;GA;;;BA)(A;OICI;GA;;;BU)(A;OICI;GA;;;SY)(A;OICI;CC;;;WD)";

// Puts the state the walks share with the rest of the process in a known place and back.
class FileTreeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Ticks counted by tickProgress since SetUp or the last call.
    std::int32_t takeTicks();
    // What a command of the launcher hands a walk: cancelRequested, tickProgress and exeNameCopy
    // as they are now.
    static WalkContext walk();

private:
    std::int32_t ticksSeen_ = 0;
};

}  // namespace tendril::test
