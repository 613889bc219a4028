#include "filetree/path_forms.h"

#include "common/ascii_case.h"
#include "common/growing_buffer.h"
#include "common/unique_handle.h"

#include <windows.h>

namespace tendril {

namespace {

// "\\?\UNC\server\..." is "\\server\...", "\\?\C:\..." and "\\.\C:\..." are "C:\...".
std::wstring withoutDevicePrefix(const std::wstring& path) {
    if (startsWithIgnoringAsciiCase(path, L"\\\\?\\UNC\\")) return L"\\" + path.substr(7);
    if (startsWithIgnoringAsciiCase(path, L"\\\\?\\") ||
        startsWithIgnoringAsciiCase(path, L"\\\\.\\"))
        return path.substr(4);
    return path;
}

bool sameOrInside(const std::wstring& inner, const std::wstring& outer) {
    return equalIgnoringAsciiCase(inner, outer) || isInsideFolder(inner, outer);
}

}  // namespace

std::wstring normalizedPath(const std::wstring& path) {
    const std::wstring text = withoutDevicePrefix(path);
    if (text.empty()) return {};
    std::wstring full = callWithGrowingBuffer([&](wchar_t* buffer, DWORD size) {
        return ::GetFullPathNameW(text.c_str(), size, buffer, nullptr);
    });
    const std::wstring longer = callWithGrowingBuffer([&](wchar_t* buffer, DWORD size) {
        return ::GetLongPathNameW(full.c_str(), buffer, size);
    });
    if (!longer.empty()) full = longer;
    if (!full.empty() && full.back() == L'\\') full.pop_back();
    return full;
}

std::wstring finalPathOf(const std::wstring& path) {
    const UniqueFile handle(
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return {};
    return withoutDevicePrefix(callWithGrowingBuffer([&](wchar_t* buffer, DWORD size) {
        return ::GetFinalPathNameByHandleW(handle.get(), buffer, size, VOLUME_NAME_DOS);
    }));
}

bool isInsideFolder(const std::wstring& inner, const std::wstring& outer) {
    return inner.size() > outer.size() && inner[outer.size()] == L'\\' &&
           startsWithIgnoringAsciiCase(inner, outer);
}

bool foldersOverlap(const std::wstring& a, const std::wstring& b) {
    const std::wstring formsOfA[] = {normalizedPath(a), normalizedPath(finalPathOf(a))};
    const std::wstring formsOfB[] = {normalizedPath(b), normalizedPath(finalPathOf(b))};
    for (const std::wstring& x : formsOfA)
        for (const std::wstring& y : formsOfB)
            if (!x.empty() && !y.empty() && (sameOrInside(x, y) || sameOrInside(y, x))) return true;
    return false;
}

}  // namespace tendril
