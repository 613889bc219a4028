#include "shell/shortcut_location.h"

#include "filetree/entry_handle.h"
#include "filetree/path_guard.h"

#include <shlobj.h>
#include <windows.h>

namespace tendril {

namespace {

bool equalIgnoringCase(const wchar_t* a, std::size_t aLength, const wchar_t* b,
                       std::size_t bLength) {
    if (aLength != bLength) return false;
    if (aLength == 0) return true;
    return ::CompareStringOrdinal(a, static_cast<int>(aLength), b, static_cast<int>(bLength),
                                  TRUE) == CSTR_EQUAL;
}

}  // namespace

bool isShortcutName(const std::wstring& name) { return isPlainName(name); }

std::wstring resolvedFullPath(const std::wstring& path) {
    if (path.empty()) return std::wstring();
    std::wstring full(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD length =
            ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return std::wstring();
        if (length < full.size()) {
            full.resize(length);
            // "C:\" keeps its backslash; "C:\a\" loses it.
            while (full.size() > 3 && full.back() == L'\\') full.pop_back();
            return full;
        }
        full.resize(length);
    }
    return std::wstring();
}

bool isSamePathText(const std::wstring& a, const std::wstring& b) {
    return equalIgnoringCase(a.c_str(), a.size(), b.c_str(), b.size());
}

bool isStrictlyInside(const std::wstring& parent, const std::wstring& child) {
    if (parent.empty()) return false;
    // A root such as "C:\" already ends in its separator.
    const bool parentEndsInSeparator = parent.back() == L'\\';
    const std::size_t prefix = parent.size() + (parentEndsInSeparator ? 0 : 1);
    if (child.size() <= prefix) return false;
    if (!parentEndsInSeparator && child[parent.size()] != L'\\') return false;
    return equalIgnoringCase(parent.c_str(), parent.size(), child.c_str(), parent.size());
}

bool reachedWithoutLink(const ShortcutFolder& folder) {
    if (!folder.isGroup) return true;
    // Every folder below the special folder, from the first level down to the folder itself.
    for (std::size_t end = folder.specialFolder.size() + 1; end <= folder.path.size(); ++end) {
        if (end < folder.path.size() && folder.path[end] != L'\\') continue;
        if (pathKind(folder.path.substr(0, end)) == EntryKind::Link) return false;
    }
    return true;
}

std::optional<ShortcutFolder> shortcutFolder(const std::wstring& specialFolder,
                                             const std::wstring& subfolder) {
    if (subfolder.find_first_of(L":*?") != std::wstring::npos) return std::nullopt;
    ShortcutFolder folder;
    folder.specialFolder = resolvedFullPath(specialFolder);
    if (folder.specialFolder.empty()) return std::nullopt;
    folder.path = subfolder.empty() ? folder.specialFolder
                                    : resolvedFullPath(specialFolder + L"\\" + subfolder);
    if (folder.path.empty()) return std::nullopt;

    folder.isGroup = isStrictlyInside(folder.specialFolder, folder.path);
    if (!folder.isGroup && !isSamePathText(folder.path, folder.specialFolder)) return std::nullopt;

    // Where the all-users Startup folder is, or would be: a group must not create it either.
    wchar_t startupBuffer[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_STARTUP | CSIDL_FLAG_DONT_VERIFY, nullptr,
                                  SHGFP_TYPE_CURRENT, startupBuffer)))
        return std::nullopt;
    startupBuffer[MAX_PATH - 1] = L'\0';
    const std::wstring startup = resolvedFullPath(startupBuffer);
    if (startup.empty() || isSamePathText(folder.path, startup) ||
        isStrictlyInside(startup, folder.path))
        return std::nullopt;

    if (!reachedWithoutLink(folder)) return std::nullopt;
    return folder;
}

std::wstring shortcutFilePath(const ShortcutFolder& folder, const std::wstring& name) {
    return folder.path + L"\\" + name + L".lnk";
}

}  // namespace tendril
