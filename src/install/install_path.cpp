#include "install/install_path.h"

#include "common/unique_handle.h"

#include <windows.h>

namespace tendril {

std::size_t normalizeInstallPath(std::wstring& text) {
    std::size_t changes = 0;
    std::wstring result;
    result.reserve(text.size());
    for (wchar_t c : text) {
        if (c == L'"') {
            ++changes;
            continue;
        }
        if (c == L'/') {
            ++changes;
            c = L'\\';
        }
        // A backslash right after another one is dropped: every run becomes a single one, except
        // the leading pair of a network path, which would otherwise turn into a path relative to
        // the current drive (and the installation on the share would lose its slot).
        if (c == L'\\' && !result.empty() && result.back() == L'\\' && result != L"\\") {
            ++changes;
            continue;
        }
        result.push_back(c);
    }
    text.swap(result);
    return changes;
}

bool isFolderEmpty(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    {
        UniqueFind self(::FindFirstFileW(path.c_str(), &data));
        if (!self) return true;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    }
    UniqueFind listing(::FindFirstFileW((path + L"\\*.*").c_str(), &data));
    if (!listing) return true;
    do {
        const wchar_t* name = data.cFileName;
        const bool dot = name[0] == L'.' && name[1] == L'\0';
        const bool dotDot = name[0] == L'.' && name[1] == L'.' && name[2] == L'\0';
        if (!dot && !dotDot) return false;
    } while (::FindNextFileW(listing.get(), &data));
    return true;
}

}  // namespace tendril
