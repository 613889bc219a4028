#include "filetree/directory_removal.h"

#include "filetree/path_guard.h"
#include "filetree/path_utils.h"
#include "filetree/tree_entry.h"
#include "filetree/tree_listing.h"

#include <windows.h>

namespace tendril {

namespace {

bool removeTree(std::wstring& folder);

bool removeContents(std::wstring& folder) {
    bool everyEntryRemoved = true;
    const bool listed = forEachEntry(folder, false, [&](const WIN32_FIND_DATAW& data) {
        bool removed;
        if (isFolderEntry(data))
            removed = isLinkEntry(data) ? ::RemoveDirectoryW(folder.c_str()) != FALSE
                                        : removeTree(folder);
        else
            removed = ::DeleteFileW(folder.c_str()) != FALSE;
        if (!removed) everyEntryRemoved = false;
    });
    return listed && everyEntryRemoved;
}

bool removeTree(std::wstring& folder) {
    return removeContents(folder) && ::RemoveDirectoryW(folder.c_str()) != FALSE;
}

}  // namespace

bool deleteDirectory(const std::wstring& folder) {
    std::wstring path = folder;
    removeTrailingBackslash(path);
    if (!isWalkableRoot(path)) return false;
    if (isLinkPath(path.c_str())) return ::RemoveDirectoryW(path.c_str()) != FALSE;
    return removeTree(path);
}

bool deleteDirectoryContents(const std::wstring& folder) {
    if (!isWalkableRoot(folder) || isLinkPath(folder.c_str())) return false;
    std::wstring path = folder;
    return removeContents(path);
}

}  // namespace tendril
