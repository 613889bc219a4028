// The one listing loop every walk runs: a folder is read through its own handle
// (GetFileInformationByHandleEx with FileIdBothDirectoryInfo), never by a path pattern, so what
// is listed is the folder the walk opened and checked, and each entry comes with the file id that
// its open is checked against.
#pragma once

#include "filetree/tree_entry.h"
#include "filetree/walk_context.h"

#include <windows.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

namespace tendril {

// Reads the entries of one folder, in the order the file system returns them, a buffer of them
// at a time.
class FolderListing {
public:
    // folder needs FILE_LIST_DIRECTORY and synchronous I/O.
    explicit FolderListing(HANDLE folder);
    FolderListing(const FolderListing&) = delete;
    FolderListing& operator=(const FolderListing&) = delete;

    // The next entry ("." and ".." included); false at the end or when the folder cannot be
    // read. The entry's name stays valid until the next call.
    bool next(ListedEntry& entry);
    // False when not even the first entries could be read.
    bool readable() const { return readable_; }

private:
    bool fill();

    HANDLE folder_;
    std::unique_ptr<std::byte[]> buffer_;
    const std::byte* current_ = nullptr;
    bool readable_ = false;
    bool ended_ = false;
    bool started_ = false;
};

// Test seam: called with each entry's name after its folder listed it and before the walk opens
// it, so that a test can change the tree in between as a racing user would. Empty in the
// product.
extern std::function<void(std::wstring_view name)> listedEntrySeam;

// Calls visit(entry) for every entry of folder but "." and "..". When stopOn is given, the loop
// also ends after the entry during which its cancel flag became set. False when the folder
// cannot be read at all.
template <typename Visit>
bool forEachEntry(HANDLE folder, const WalkContext* stopOn, Visit&& visit) {
    FolderListing listing(folder);
    ListedEntry entry;
    while (listing.next(entry)) {
        if (entry.isDots()) continue;
        if (listedEntrySeam) listedEntrySeam(entry.name);
        visit(static_cast<const ListedEntry&>(entry));
        if (stopOn != nullptr && stopOn->cancelled()) break;
    }
    return listing.readable();
}

}  // namespace tendril
