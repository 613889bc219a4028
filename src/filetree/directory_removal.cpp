#include "filetree/directory_removal.h"

#include "common/unique_handle.h"
#include "filetree/entry_handle.h"
#include "filetree/path_guard.h"
#include "filetree/path_utils.h"
#include "filetree/tree_entry.h"
#include "filetree/tree_listing.h"

#include <windows.h>

namespace tendril {

namespace {

constexpr ACCESS_MASK kRemoveAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

bool removeContents(HANDLE folder, DWORD volume);

// One listed entry and, for a folder, everything beneath it; true when it is gone.
bool removeEntry(HANDLE folder, const ListedEntry& entry, DWORD volume) {
    if (entry.kind() == EntryKind::Folder) {
        const OpenedEntry child =
            openListedEntry(folder, entry, kListFolderAccess, kRemoveAccess, volume);
        return child && removeContents(child.handle.get(), volume) &&
               deleteThroughHandle(child.handle.get());
    }
    // A file, or a link itself (never what it points to).
    const OpenedEntry other = openListedEntry(folder, entry, kRemoveAccess, 0, volume);
    return other && deleteThroughHandle(other.handle.get());
}

bool removeContents(HANDLE folder, DWORD volume) {
    bool everyEntryRemoved = true;
    const bool listed = forEachEntry(folder, nullptr, [&](const ListedEntry& entry) {
        if (!removeEntry(folder, entry, volume)) everyEntryRemoved = false;
    });
    return listed && everyEntryRemoved;
}

// A folder path that is a link: the link itself goes, if the handle is the link. Under Wine the
// open follows a directory link to its target, which is then left alone.
bool removeLinkPath(const std::wstring& path) {
    const UniqueFile link = openPath(path, kRemoveAccess);
    return link && handleKind(link.get()) == EntryKind::Link && deleteThroughHandle(link.get());
}

// The folder at path with kListFolderAccess (and the right to remove it, when granted), and its
// volume; no handle unless it is a plain folder.
UniqueFile openFolderToRemove(const std::wstring& path, DWORD& volume) {
    UniqueFile folder = openPlainFolder(path, kRemoveAccess);
    if (!folder || !volumeSerialOf(folder.get(), volume)) return UniqueFile();
    return folder;
}

}  // namespace

bool deleteDirectory(const std::wstring& folder) {
    std::wstring path = folder;
    removeTrailingBackslash(path);
    if (!isWalkableRoot(path)) return false;
    if (pathKind(path) == EntryKind::Link) return removeLinkPath(path);
    DWORD volume = 0;
    const UniqueFile root = openFolderToRemove(path, volume);
    return root && removeContents(root.get(), volume) && deleteThroughHandle(root.get());
}

bool deleteDirectoryContents(const std::wstring& folder) {
    if (!isWalkableRoot(folder)) return false;
    DWORD volume = 0;
    const UniqueFile root = openFolderToRemove(folder, volume);
    return root && removeContents(root.get(), volume);
}

}  // namespace tendril
