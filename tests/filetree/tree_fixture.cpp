#include "tree_fixture.h"

#include "common/unique_handle.h"
#include "launcher_link/cancel.h"
#include "launcher_link/launcher_user.h"
#include "launcher_link/process_state.h"
#include "launcher_link/progress.h"
#include "launcher_link/walk_context.h"
#include "support/security_traces.h"
#include "support/test_support.h"

#include <sddl.h>

#include <algorithm>
#include <functional>

namespace tendril::test {

void makeEntries(const std::wstring& root, std::initializer_list<std::wstring> entries) {
    for (const std::wstring& entry : entries) {
        const std::wstring path = root + L"\\" + entry;
        if (!entry.empty() && entry.back() == L'\\') {
            ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr)) << "cannot create folder";
        } else {
            ASSERT_TRUE(writeFile(path, std::string(entry.begin(), entry.end())))
                << "cannot create file";
        }
    }
}

namespace {

void listInto(const std::wstring& root, const std::wstring& prefix,
              std::vector<std::wstring>& names) {
    WIN32_FIND_DATAW data;
    const UniqueFind find(::FindFirstFileW((root + L"\\*").c_str(), &data));
    if (!find) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            names.push_back(prefix + name + L"@");
        } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            names.push_back(prefix + name + L"\\");
            listInto(root + L"\\" + name, prefix + name + L"\\", names);
        } else {
            names.push_back(prefix + name);
        }
    } while (::FindNextFileW(find.get(), &data));
}

}  // namespace

std::vector<std::wstring> listTree(const std::wstring& root) {
    std::vector<std::wstring> names;
    listInto(root, L"", names);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> listingOrder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const UniqueFind find(::FindFirstFileW((folder + L"\\*.*").c_str(), &data));
    if (!find) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(find.get(), &data));
    return names;
}

namespace {

// Under Wine a Unix program started with CreateProcessW runs detached (no process handle comes
// back), so runUnix cannot wait for it: we wait for its effect instead.
bool waitFor(const std::function<bool()>& done) {
    for (int round = 0; round < 500; ++round) {
        if (done()) return true;
        ::Sleep(10);
    }
    return done();
}

}  // namespace

bool denyOthers(const std::wstring& path) {
    if (!denyOthersOn(path)) return false;
    for (const std::wstring& name : listTree(path)) {
        if (name.back() == L'@') continue;  // never through a link
        std::wstring entry = path + L"\\" + name;
        if (entry.back() == L'\\') entry.pop_back();
        if (!denyOthersOn(entry)) return false;
    }
    return true;
}

bool makeUnixDirectoryLink(const std::wstring& target, const std::wstring& link) {
    runUnix("/bin/ln", {"-s", unixPath(target), unixPath(link)});
    return waitFor([&] {
        const DWORD attributes = ::GetFileAttributesW(link.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    });
}

bool makeUnixHardLink(const std::wstring& existing, const std::wstring& link) {
    runUnix("/bin/ln", {unixPath(existing), unixPath(link)});
    return waitFor([&] { return exists(link); });
}

bool runUnixAndWait(const std::string& program, const std::vector<std::string>& arguments,
                    const std::function<bool()>& done) {
    runUnix(program, arguments);
    return waitFor(done);
}

void removeLinkUnix(const std::wstring& link) {
    runUnix("/bin/rm", {"-f", unixPath(link)});
    waitFor([&] { return !exists(link); });
}

void FileTreeTest::SetUp() {
    launcherWindow = nullptr;
    // The launcher's user is the test process itself, an administrator.
    ASSERT_TRUE(takeLauncherUser(::GetCurrentProcess()));
    progressTotal = 1000000;
    progressDone = 0;
    lastProgressPercent = 0;
    cancelRequested = false;
    exeNameCopy.clear();
    ticksSeen_ = 0;
}

void FileTreeTest::TearDown() {
    progressTotal = 1;
    progressDone = 0;
    lastProgressPercent = 0;
    cancelRequested = false;
    exeNameCopy.clear();
}

WalkContext FileTreeTest::walk() { return commandWalkContext(); }

std::int32_t FileTreeTest::takeTicks() {
    const std::int32_t ticks = progressDone - ticksSeen_;
    ticksSeen_ = progressDone;
    return ticks;
}

}  // namespace tendril::test
