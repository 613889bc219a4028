#include "commands/app_list.h"

#include "common/unique_handle.h"
#include "filetree/anchored_folder.h"
#include "filetree/entry_handle.h"
#include "filetree/tree_entry.h"

#include <windows.h>

#include <cstdint>

namespace tendril {

namespace {

// The file itself, not a link, a folder or a second name of a file elsewhere.
bool isPlainSingleFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file, &info)) return false;
    return !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
           info.nNumberOfLinks == 1;
}

}  // namespace

bool readAppList(HANDLE folder, std::vector<AppListRecord>& list) {
    ChildEntry entry;
    if (!findChild(folder, kAppListFileName, entry)) return false;
    // A folder of that name holds no list; a link is not read through.
    if (!entry.found || entryKind(entry.attributes, entry.reparseTag) != EntryKind::File) {
        list.clear();
        return true;
    }
    const UniqueFile file = openChild(folder, entry, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES);
    if (!file) return false;
    if (!isPlainSingleFile(file.get())) {
        list.clear();
        return true;
    }
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.get(), &size)) return false;
    if (size.QuadPart % sizeof(AppListRecord) != 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > kMaxAppListRecords * sizeof(AppListRecord)) {
        deleteThroughHandle(file.get());
        return false;
    }
    list.assign(static_cast<std::size_t>(size.QuadPart / sizeof(AppListRecord)), AppListRecord{});
    for (AppListRecord& record : list) {
        DWORD read = 0;
        AppListRecord buffer;
        if (::ReadFile(file.get(), &buffer, sizeof buffer, &read, nullptr) && read == sizeof buffer)
            record = buffer;
    }
    return true;
}

bool readAppList(const std::wstring& folder, std::vector<AppListRecord>& list) {
    const Anchor anchor = anchorFolder(folder, GuardUse::Request);
    if (anchor.exists()) return readAppList(anchor.folder.get(), list);
    if (anchor.refused()) return false;
    list.clear();
    return true;
}

}  // namespace tendril
