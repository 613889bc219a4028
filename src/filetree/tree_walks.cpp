#include "filetree/tree_walks.h"

#include "common/unique_handle.h"
#include "filetree/entry_handle.h"
#include "filetree/path_guard.h"
#include "filetree/secure_entry.h"
#include "filetree/tree_entry.h"
#include "filetree/tree_listing.h"
#include "filetree/users_descriptor.h"

#include <windows.h>

namespace tendril {

namespace {

constexpr int kDeleteAttempts = 6;
constexpr DWORD kDeleteRetryDelayMs = 100;

// A file is opened to be deleted with the right to take a read-only mark off it.
constexpr ACCESS_MASK kDeleteFileAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

// What one walk carries down the tree. Every folder it enters is on the root's volume: a walk
// never crosses a link, and a mount point is one.
struct Walk {
    const WalkContext& context;
    DWORD volume = 0;
};

void countIn(HANDLE folder, const Walk& walk, std::int32_t& counter) {
    if (walk.context.cancelled()) return;
    forEachEntry(folder, &walk.context, [&](const ListedEntry& entry) {
        if (entry.kind() == EntryKind::Folder) {
            const OpenedEntry child =
                openListedEntry(folder, entry, kListFolderAccess, 0, walk.volume);
            if (child) countIn(child.handle.get(), walk, counter);
        }
        ++counter;
    });
}

void secureIn(HANDLE folder, const Walk& walk, PSECURITY_DESCRIPTOR descriptor,
              bool reportProgress) {
    if (walk.context.cancelled()) return;
    forEachEntry(folder, &walk.context, [&](const ListedEntry& entry) {
        switch (entry.kind()) {
            case EntryKind::Folder: {
                // Entered through the handle that was secured, and only when it was.
                const OpenedEntry child =
                    openListedEntry(folder, entry, kSecureAccess, FILE_LIST_DIRECTORY, walk.volume);
                if (child && secureOpenedEntry(child.handle.get(), descriptor, true) ==
                                 SecureResult::Applied)
                    secureIn(child.handle.get(), walk, descriptor, reportProgress);
                break;
            }
            case EntryKind::File: {
                const OpenedEntry child =
                    openListedEntry(folder, entry, kSecureAccess, 0, walk.volume);
                if (child) secureOpenedEntry(child.handle.get(), descriptor, false);
                break;
            }
            default:  // a link: left as it is
                break;
        }
        if (reportProgress && !entry.isDirectory()) walk.context.tickOnce();
    });
}

void deleteFileWithRetries(HANDLE folder, const ListedEntry& entry, const Walk& walk) {
    for (int attempt = 1; attempt <= kDeleteAttempts; ++attempt) {
        const OpenedEntry file = openListedEntry(folder, entry, kDeleteFileAccess, 0, walk.volume);
        if (file.outcome == EntryOpen::Changed) return;
        if (file && deleteThroughHandle(file.handle.get())) return;
        if (attempt < kDeleteAttempts) ::Sleep(kDeleteRetryDelayMs);
    }
}

void deleteIn(HANDLE folder, const Walk& walk);

// Once, without retry: a folder that kept a file is left as it is. A folder that cannot be
// opened for deletion (some process's current directory) is still emptied.
void deleteFolderEntry(HANDLE folder, const ListedEntry& entry, const Walk& walk) {
    if (entry.kind() == EntryKind::Link) {
        const OpenedEntry link =
            openListedEntry(folder, entry, DELETE | FILE_READ_ATTRIBUTES, 0, walk.volume);
        if (link) deleteThroughHandle(link.handle.get());
        return;
    }
    const OpenedEntry child = openListedEntry(folder, entry, kListFolderAccess,
                                              DELETE | FILE_WRITE_ATTRIBUTES, walk.volume);
    if (!child) return;
    deleteIn(child.handle.get(), walk);
    deleteThroughHandle(child.handle.get());
}

// Files named like the spared name stay: the uninstall deletes that one itself, last, and only
// when it was not cancelled.
void deleteIn(HANDLE folder, const Walk& walk) {
    if (walk.context.cancelled()) return;
    forEachEntry(folder, &walk.context, [&](const ListedEntry& entry) {
        if (entry.isDirectory())
            deleteFolderEntry(folder, entry, walk);
        else if (!walk.context.spares(entry.name))
            deleteFileWithRetries(folder, entry, walk);
        walk.context.tickOnce();
    });
}

// A path given to a walk is anchored first: the walk starts from the handle the decision was
// taken on.
Anchor anchorWalkRoot(const std::wstring& folder, const WalkContext& context) {
    if (context.cancelled()) return Anchor{};
    return anchorFolder(folder, GuardUse::WalkRoot);
}

}  // namespace

bool countFiles(const std::wstring& folder, std::int32_t& counter, const WalkContext& context) {
    if (!isWalkableRoot(folder)) return false;
    const Anchor root = anchorWalkRoot(folder, context);
    if (root.exists()) countFiles(root.folder, counter, context);
    return true;
}

bool setTreeSecurity(const std::wstring& folder, bool reportProgress, const WalkContext& context) {
    if (!isWalkableRoot(folder)) return false;
    const Anchor root = anchorWalkRoot(folder, context);
    if (root.exists()) setTreeSecurity(root.folder, reportProgress, context);
    return true;
}

bool deleteTreeContents(const std::wstring& folder, const WalkContext& context) {
    if (!isWalkableRoot(folder)) return false;
    const Anchor root = anchorWalkRoot(folder, context);
    if (root.exists()) deleteTreeContents(root.folder, context);
    return true;
}

void countFiles(const AnchoredFolder& folder, std::int32_t& counter, const WalkContext& context) {
    if (context.cancelled() || !folder) return;
    const Walk walk{context, folder.volume};
    countIn(folder.get(), walk, counter);
}

void setTreeSecurity(const AnchoredFolder& folder, bool reportProgress,
                     const WalkContext& context) {
    if (context.cancelled() || !folder) return;
    const Walk walk{context, folder.volume};
    secureIn(folder.get(), walk, usersSecurityDescriptor.get(), reportProgress);
}

void deleteTreeContents(const AnchoredFolder& folder, const WalkContext& context) {
    if (context.cancelled() || !folder) return;
    const Walk walk{context, folder.volume};
    deleteIn(folder.get(), walk);
}

}  // namespace tendril
