#include "filetree/directory_removal.h"

#include "filetree/anchored_folder.h"

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

// A folder path that is a link: the link itself goes, if the handle is the link, reached from its
// anchored parent. Under Wine the open follows a directory link to its target, whose id is not
// the listed one, so nothing is removed there.
bool removeLinkPath(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return false;
    const Anchor parent = anchorFolder(path.substr(0, slash), GuardUse::WalkRoot);
    ChildEntry entry;
    if (!parent.exists() || !findChild(parent.folder.get(), path.substr(slash + 1), entry) ||
        !entry.found || entryKind(entry.attributes, entry.reparseTag) != EntryKind::Link)
        return false;
    const UniqueFile link = openChild(parent.folder.get(), entry, kRemoveAccess);
    return link && handleKind(link.get()) == EntryKind::Link && deleteThroughHandle(link.get());
}

}  // namespace

bool removeFolderTree(const AnchoredFolder& folder) {
    return folder && removeContents(folder.get(), folder.volume) &&
           deleteThroughHandle(folder.get());
}

bool deleteDirectory(const std::wstring& folder) {
    std::wstring path = folder;
    removeTrailingBackslash(path);
    if (!isWalkableRoot(path)) return false;
    const Anchor anchor = anchorFolder(path, GuardUse::WalkRoot, kRemoveAccess);
    if (anchor.exists()) return removeFolderTree(anchor.folder);
    return anchor.refusal == AnchorRefusal::Link && removeLinkPath(path);
}

bool deleteDirectoryContents(const std::wstring& folder) {
    if (!isWalkableRoot(folder)) return false;
    const Anchor anchor = anchorFolder(folder, GuardUse::WalkRoot);
    return anchor.exists() && removeContents(anchor.folder.get(), anchor.folder.volume);
}

}  // namespace tendril
