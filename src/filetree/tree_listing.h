// The one directory-listing loop that every walk runs. A walk keeps one path buffer for the whole
// tree: each level appends "\" and an entry's name for as long as it acts on that entry and cuts
// it off again, so walking twenty thousand entries copies no path and allocates next to nothing.
#pragma once

#include "common/unique_handle.h"
#include "filetree/tree_entry.h"
#include "launcher_link/cancel.h"

#include <windows.h>

#include <string>

namespace tendril {

enum class ListingStop {
    // Every entry was visited.
    AtEnd,
    // cancelRequested was found set after an entry.
    AtCancel,
};

// Lists the folder in path (no trailing backslash) with the pattern "\*.*", in the order the file
// system returns the entries, and calls visit(data) for every entry but "." and "..". During the
// call path holds the entry's full path; on return path is as it was on entry. When stopOnCancel,
// the loop also ends after the entry during which cancelRequested became set. False when the
// listing cannot be opened (the folder is missing, or is a file).
template <typename Visit>
bool forEachEntry(std::wstring& path, bool stopOnCancel, Visit&& visit) {
    const std::size_t folderLength = path.size();
    path.append(L"\\*.*");
    WIN32_FIND_DATAW data;
    const UniqueFind find(::FindFirstFileW(path.c_str(), &data));
    path.resize(folderLength);
    if (!find) return false;
    do {
        if (isDotEntry(data)) continue;
        path.push_back(L'\\');
        path.append(data.cFileName);
        visit(static_cast<const WIN32_FIND_DATAW&>(data));
        path.resize(folderLength);
    } while (!(stopOnCancel && cancelRequested.load()) && ::FindNextFileW(find.get(), &data));
    return true;
}

}  // namespace tendril
