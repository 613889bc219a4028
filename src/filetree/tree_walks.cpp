#include "filetree/tree_walks.h"

#include "filetree/path_guard.h"
#include "filetree/secure_entry.h"
#include "filetree/tree_entry.h"
#include "filetree/tree_listing.h"
#include "filetree/users_descriptor.h"
#include "launcher_link/cancel.h"
#include "launcher_link/process_state.h"
#include "launcher_link/progress.h"

#include <windows.h>

namespace tendril {

namespace {

constexpr int kDeleteAttempts = 6;
constexpr DWORD kDeleteRetryDelayMs = 100;

// Room for a few levels of full-length names, so the shared path buffer rarely grows.
constexpr std::size_t kPathReserve = 4 * MAX_PATH;

// After the path guard: whether a walk may list anything at all. Not once the launcher has
// cancelled, and not through a folder path that is itself a link.
bool mayWalk(const std::wstring& folder) {
    return !cancelRequested.load() && !isLinkPath(folder.c_str());
}

std::wstring walkBuffer(const std::wstring& folder) {
    std::wstring path;
    path.reserve(folder.size() + kPathReserve);
    path.assign(folder);
    return path;
}

void countIn(std::wstring& folder, std::int32_t& counter) {
    if (cancelRequested.load()) return;
    forEachEntry(folder, true, [&](const WIN32_FIND_DATAW& data) {
        if (isFolderEntry(data) && !isLinkEntry(data)) countIn(folder, counter);
        ++counter;
    });
}

void secureIn(std::wstring& folder, PSECURITY_DESCRIPTOR descriptor, bool reportProgress) {
    if (cancelRequested.load()) return;
    forEachEntry(folder, true, [&](const WIN32_FIND_DATAW& data) {
        if (isFolderEntry(data)) {
            if (isLinkEntry(data)) return;
            // A folder that proves to be a link once opened is not entered either.
            if (secureEntry(folder.c_str(), descriptor, true) != SecureResult::Refused)
                secureIn(folder, descriptor, reportProgress);
            return;
        }
        if (!isLinkEntry(data)) secureEntry(folder.c_str(), descriptor, false);
        if (reportProgress) tickProgress();
    });
}

// Files named like the request's executable stay: the uninstall deletes that one itself, last,
// and only when it was not cancelled.
bool isSparedName(const wchar_t* name) {
    return !exeNameCopy.empty() &&
           ::CompareStringOrdinal(name, -1, exeNameCopy.c_str(),
                                  static_cast<int>(exeNameCopy.size()), TRUE) == CSTR_EQUAL;
}

void deleteFileWithRetries(const wchar_t* path) {
    for (int attempt = 1; attempt <= kDeleteAttempts; ++attempt) {
        if (::DeleteFileW(path)) return;
        if (attempt < kDeleteAttempts) ::Sleep(kDeleteRetryDelayMs);
    }
}

void deleteIn(std::wstring& folder) {
    if (cancelRequested.load()) return;
    forEachEntry(folder, true, [&](const WIN32_FIND_DATAW& data) {
        if (isFolderEntry(data)) {
            if (!isLinkEntry(data)) deleteIn(folder);
            // Once, without retry: a folder that kept a file, or a link, is removed or left as
            // it is. On a link this removes the link alone.
            ::RemoveDirectoryW(folder.c_str());
        } else if (!isSparedName(data.cFileName)) {
            deleteFileWithRetries(folder.c_str());
        }
        tickProgress();
    });
}

}  // namespace

bool countFiles(const std::wstring& folder, std::int32_t& counter) {
    if (!isWalkableRoot(folder)) return false;
    if (!mayWalk(folder)) return true;
    std::wstring path = walkBuffer(folder);
    countIn(path, counter);
    return true;
}

bool setTreeSecurity(const std::wstring& folder, bool reportProgress) {
    if (!isWalkableRoot(folder)) return false;
    if (!mayWalk(folder)) return true;
    std::wstring path = walkBuffer(folder);
    secureIn(path, usersSecurityDescriptor.get(), reportProgress);
    return true;
}

bool deleteTreeContents(const std::wstring& folder) {
    if (!isWalkableRoot(folder)) return false;
    if (!mayWalk(folder)) return true;
    std::wstring path = walkBuffer(folder);
    deleteIn(path);
    return true;
}

}  // namespace tendril
