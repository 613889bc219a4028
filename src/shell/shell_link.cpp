#include "shell/shell_link.h"

#include "install/install_path.h"
#include "shell/com_library.h"

namespace tendril {

std::optional<ShellLink> createShellLink() {
    ShellLink object;
    if (FAILED(com::createInstance(CLSID_ShellLink, nullptr, CLSCTX_ALL, IID_IShellLinkW,
                                   reinterpret_cast<void**>(object.link.GetAddressOf()))) ||
        !object.link)
        return std::nullopt;
    if (FAILED(object.link.As(&object.file)) || !object.file) return std::nullopt;
    return object;
}

std::optional<std::wstring> storedTarget(const ShellLink& object, const std::wstring& path,
                                         bool* loaded) {
    const bool loadedNow = SUCCEEDED(object.file->Load(path.c_str(), STGM_READ));
    if (loaded != nullptr) *loaded = loadedNow;
    if (!loadedNow) return std::nullopt;
    wchar_t stored[MAX_PATH] = {};
    // S_FALSE (no file-system path) is no target either.
    if (object.link->GetPath(stored, MAX_PATH, nullptr, 0) != S_OK) return std::nullopt;
    stored[MAX_PATH - 1] = L'\0';
    std::wstring target = stored;
    normalizeInstallPath(target);
    return target;
}

}  // namespace tendril
