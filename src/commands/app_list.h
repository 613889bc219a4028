// An installation's "applist.dat": the launcher's list of the applications it installed there,
// whose shortcuts the uninstall removes. A flat array of 652-byte records without a header.
#pragma once

#include <tendril/protocol.h>

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace tendril {

// One record: the first 652 bytes of a RequestEntry.
struct AppListRecord {
    wchar_t name[65];
    wchar_t path[261];
};
static_assert(sizeof(AppListRecord) == 652);
static_assert(offsetof(AppListRecord, path) == offsetof(RequestEntry, path));

inline constexpr wchar_t kAppListFileName[] = L"applist.dat";

// More records than any launcher installs applications in one folder. Users may grow the file to
// any size after a grant; a list beyond this is not read into memory.
inline constexpr std::size_t kMaxAppListRecords = 65536;

// Reads folder\applist.dat into list. A missing file is an empty list (true). A file whose size
// is not a whole number of records, or that holds more than kMaxAppListRecords, is corrupt: it
// loses its read-only attribute and is deleted, and the result is false with list untouched; so
// is a file that exists but cannot be opened.
// After a grant Users may replace the file: one that is a link or has a second name elsewhere is
// read as an empty list and left alone (true), so that nothing is read or deleted through it.
// The file is looked up and opened relative to the folder's handle, as itself.
bool readAppList(HANDLE folder, std::vector<AppListRecord>& list);

// The same for a folder path, anchored first (anchored_folder.h): a missing folder holds an empty
// list, a refused one none (false).
bool readAppList(const std::wstring& folder, std::vector<AppListRecord>& list);

}  // namespace tendril
