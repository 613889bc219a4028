#include "log/plain_file.h"

#include <windows.h>

#include <string>

namespace tendril {

namespace {

constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kSharing = FILE_SHARE_READ;  // no delete sharing: the name stays ours while open
// A link at the name is opened itself, never what it points to.
constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

std::wstring fullPathOf(const wchar_t* name) {
    const DWORD needed = ::GetFullPathNameW(name, 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::wstring path(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(name, needed, path.data(), nullptr);
    if (length == 0 || length >= needed) return {};
    path.resize(length);
    return path;
}

// The path the handle's file is reached by once every link on the way is resolved; empty when it
// cannot be told.
std::wstring finalPathOf(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length =
            ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length);  // too small: length is the size needed, terminator included
    }
    return {};
}

// File names compare as the file system compares them: ordinal, without regard to case.
bool sameFileName(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Where a file of fullPath's name must be found: the final path of its folder, reached the way
// the open reached it, followed by the name. Empty when the folder cannot be opened.
std::wstring expectedFinalPath(const std::wstring& fullPath) {
    const std::size_t slash = fullPath.rfind(L'\\');
    if (slash == std::wstring::npos || slash + 1 == fullPath.size()) return {};
    const std::wstring folderPath = fullPath.substr(0, slash + 1);
    const UniqueFile folder(::CreateFileW(folderPath.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                          nullptr));
    if (!folder) return {};
    std::wstring expected = finalPathOf(folder.get());
    if (expected.empty()) return {};
    if (expected.back() != L'\\') expected += L'\\';
    return expected + fullPath.substr(slash + 1);
}

// A file on disk that is no link, has one name only (a hard link gives a file a second name
// elsewhere), and is found at fullPath itself. The last test also catches links that the open
// could not help following (file links under Wine look like plain files but resolve elsewhere).
bool isPlainFileAt(HANDLE file, const std::wstring& fullPath) {
    if (::GetFileType(file) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file, &info)) return false;
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    if (info.nNumberOfLinks != 1) return false;
    const std::wstring expected = expectedFinalPath(fullPath);
    return !expected.empty() && sameFileName(finalPathOf(file), expected);
}

}  // namespace

UniqueFile openPlainFile(const wchar_t* name) {
    if (name == nullptr || *name == L'\0') return UniqueFile();
    const std::wstring fullPath = fullPathOf(name);
    if (fullPath.empty()) return UniqueFile();
    // CREATE_NEW never creates through a link (not even one that points nowhere): a name that is
    // taken fails as existing, and only then is the existing entry opened.
    UniqueFile file(
        ::CreateFileW(fullPath.c_str(), kAccess, kSharing, nullptr, CREATE_NEW, kFlags, nullptr));
    const DWORD error = file ? ERROR_SUCCESS : ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
        file.reset(::CreateFileW(fullPath.c_str(), kAccess, kSharing, nullptr, OPEN_EXISTING,
                                 kFlags, nullptr));
    if (!file || !isPlainFileAt(file.get(), fullPath)) return UniqueFile();
    return file;
}

}  // namespace tendril
