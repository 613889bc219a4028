#include "commands/app_list.h"

#include "common/unique_handle.h"
#include "filetree/file_exists.h"

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

// Clears the read-only attribute and deletes the open file through its own handle.
void deleteThroughHandle(HANDLE file) {
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
    FILE_DISPOSITION_INFO disposition = {TRUE};
    ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

}  // namespace

bool readAppList(const std::wstring& folder, std::vector<AppListRecord>& list) {
    const std::wstring path = folder + L"\\" + kAppListFileName;
    if (!fileExists(path)) {
        list.clear();
        return true;
    }
    const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES,
                                        0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
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

}  // namespace tendril
