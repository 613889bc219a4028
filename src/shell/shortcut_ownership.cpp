#include "shell/shortcut_ownership.h"

#include "filetree/path_forms.h"
#include "filetree/path_guard.h"
#include "install/install_path.h"
#include "launcher_link/process_state.h"
#include "shell/shell_link.h"

#include <windows.h>

#include <optional>

namespace tendril {

namespace {

// Filled by the rename only; one command per process.
std::vector<std::wstring> addedOwners;

}  // namespace

void addShortcutOwner(const std::wstring& folder) { addedOwners.push_back(folder); }

std::vector<std::wstring> shortcutOwners() {
    std::vector<std::wstring> owners{fieldText(assistantRequest.installFolder)};
    owners.insert(owners.end(), addedOwners.begin(), addedOwners.end());
    return owners;
}

bool liesInsideOwner(const std::wstring& target, const std::vector<std::wstring>& folders) {
    if (!isWalkablePath(target)) return false;
    for (std::wstring folder : folders) {
        normalizeInstallPath(folder);
        while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
        if (isWalkablePath(folder) && isInsideFolder(target, folder)) return true;
    }
    return false;
}

bool mayReplaceShortcutFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // Saving over a link would write into what it points to; deleting one can reach it too.
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    // Loaded into an object of its own: the caller's object holds the shortcut it is making.
    const std::optional<ShellLink> reader = createShellLink();
    if (!reader) return false;
    const std::optional<std::wstring> target = storedTarget(*reader, path);
    return target && liesInsideOwner(*target, shortcutOwners());
}

}  // namespace tendril
