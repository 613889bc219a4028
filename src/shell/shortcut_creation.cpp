#include "shell/shortcut_creation.h"

#include "shell/com_scope.h"
#include "shell/shortcut_location.h"
#include "shell/special_folders.h"

#include <shlobj.h>
#include <windows.h>
#include <wrl/client.h>

namespace tendril {

namespace {

// A name that is there as a folder or as a link is not a shortcut file we may write over: saving
// would write into what the link points to.
bool mayWriteShortcutFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

}  // namespace

bool createShortcut(const std::wstring& target, const std::wstring& name, int csidl,
                    const std::wstring& subfolder, bool setFolderIcon) {
    return createShortcutWith(target, name, csidl, subfolder, setFolderIcon,
                              realFolderSettingsLookup());
}

bool createShortcutWith(const std::wstring& target, const std::wstring& name, int csidl,
                        const std::wstring& subfolder, bool setFolderIcon,
                        const FolderSettingsLookup& lookup) {
    if (target.empty() || !isShortcutName(name)) return false;

    const ComScope com;
    if (!com.ok()) return false;
    std::wstring special;
    if (!getSpecialFolderPath(csidl, special)) return false;
    const std::optional<ShortcutFolder> folder = shortcutFolder(special, subfolder);
    if (!folder) return false;
    const std::wstring workingDirectory = targetFolder(target);

    Microsoft::WRL::ComPtr<IShellLinkW> link;
    if (FAILED(com::createInstance(CLSID_ShellLink, nullptr, CLSCTX_ALL, IID_IShellLinkW,
                                   reinterpret_cast<void**>(link.GetAddressOf()))) ||
        !link)
        return false;
    if (FAILED(link->SetPath(target.c_str()))) return false;
    if (!workingDirectory.empty()) link->SetWorkingDirectory(workingDirectory.c_str());
    link->SetIconLocation(target.c_str(), 0);
    if (FAILED(link->SetArguments(L""))) return false;
    Microsoft::WRL::ComPtr<IPersistFile> file;
    if (FAILED(link.As(&file)) || !file) return false;

    const std::wstring filePath = shortcutFilePath(*folder, name);
    // One level only: a group whose parent is missing fails at the save below.
    ::CreateDirectoryW(folder->path.c_str(), nullptr);
    // Checked again now that the folder exists: it may have been there as a link all along.
    if (!reachedWithoutLink(*folder) || !mayWriteShortcutFile(filePath)) return false;
    if (FAILED(file->Save(filePath.c_str(), TRUE))) return false;

    if (!setFolderIcon) return true;
    const std::optional<HRESULT> icon = applyFolderIcon(folder->path, target, lookup);
    return !icon || SUCCEEDED(*icon);
}

}  // namespace tendril
