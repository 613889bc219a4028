#include "filetree/path_guard.h"

#include "filetree/protected_locations.h"

namespace tendril {

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool isDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// A component the system would shorten to nothing or to a step upwards: "", ".", "..", "...",
// " ", ". ." (trailing dots and spaces are dropped when a path is resolved).
bool isEmptyOrDotsComponent(const std::wstring& path, std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i)
        if (path[i] != L'.' && path[i] != L' ') return false;
    return true;
}

// Checks the components from begin to the end of the path; at least one must be there.
bool componentsAreSafe(const std::wstring& path, std::size_t begin) {
    if (begin >= path.size()) return false;
    std::size_t start = begin;
    for (std::size_t i = begin; i <= path.size(); ++i) {
        if (i < path.size() && !isSeparator(path[i])) continue;
        if (isEmptyOrDotsComponent(path, start, i)) return false;
        start = i + 1;
    }
    return true;
}

}  // namespace

bool isWalkablePath(const std::wstring& path) {
    if (path.size() < 4) return false;
    if (path.find_first_of(L"*?") != std::wstring::npos) return false;

    // "X:\" followed by at least one component.
    if (isDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\')
        return componentsAreSafe(path, 3);

    // "\\server\share\" followed by at least one component; a share root is walked no more than
    // a drive root is.
    if (path[0] == L'\\' && path[1] == L'\\') {
        const std::size_t serverEnd = path.find(L'\\', 2);
        if (serverEnd == std::wstring::npos) return false;
        const std::size_t shareEnd = path.find(L'\\', serverEnd + 1);
        if (shareEnd == std::wstring::npos) return false;
        // The server and share names themselves: not empty, not ".", "?" or dots, no "/".
        for (std::size_t i = 2; i < shareEnd; ++i)
            if (path[i] == L'/') return false;
        if (isEmptyOrDotsComponent(path, 2, serverEnd)) return false;
        if (isEmptyOrDotsComponent(path, serverEnd + 1, shareEnd)) return false;
        return componentsAreSafe(path, shareEnd + 1);
    }
    return false;
}

bool isWalkableRoot(const std::wstring& path) {
    return isWalkablePath(path) && !isProtectedFolder(path, GuardUse::WalkRoot);
}

bool isPlainName(const std::wstring& name) {
    return !isEmptyOrDotsComponent(name, 0, name.size()) &&
           name.find_first_of(L"\\/:") == std::wstring::npos;
}

}  // namespace tendril
