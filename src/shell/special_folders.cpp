#include "shell/special_folders.h"

#include "shell/com_scope.h"

#include <shlobj.h>
#include <windows.h>
#include <wrl/client.h>

#include <memory>

namespace tendril {

namespace {

// Frees an item identifier list through the shell allocator it came from.
struct ShellFree {
    IMalloc* allocator;
    void operator()(ITEMIDLIST* list) const { allocator->Free(list); }
};
using ShellItemList = std::unique_ptr<ITEMIDLIST, ShellFree>;

}  // namespace

bool getSpecialFolderPath(int csidl, std::wstring& path) {
    const ComScope com;
    if (!com.ok()) return false;

    // The allocator outlives the list it frees: it is declared first.
    Microsoft::WRL::ComPtr<IMalloc> allocator;
    if (FAILED(::SHGetMalloc(allocator.GetAddressOf())) || !allocator) return false;

    ITEMIDLIST* rawList = nullptr;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, csidl, &rawList)) || !rawList) return false;
    const ShellItemList list(rawList, ShellFree{allocator.Get()});

    wchar_t buffer[MAX_PATH] = {};
    if (!::SHGetPathFromIDListW(list.get(), buffer)) return false;
    buffer[MAX_PATH - 1] = L'\0';
    path.assign(buffer);
    return true;
}

std::wstring targetFolder(const std::wstring& target) {
    std::size_t last = target.rfind(L'\\');
    if (last == std::wstring::npos) last = target.rfind(L'/');
    if (last == std::wstring::npos) return std::wstring();
    return target.substr(0, last);
}

}  // namespace tendril
