#include "shell/named_shortcut.h"

#include "shell/special_folders.h"

namespace tendril {

NamedShortcut::NamedShortcut(const std::wstring& target, const std::wstring& name, int csidl,
                             const std::wstring& subfolder) {
    if (target.empty() || !isShortcutName(name)) return;
    if (!com_.emplace().ok()) return;
    std::wstring special;
    if (!getSpecialFolderPath(csidl, special)) return;
    folder_ = shortcutFolder(special, subfolder);
    if (!folder_) return;
    filePath_ = shortcutFilePath(*folder_, name);
    const std::wstring workingDirectory = targetFolder(target);

    std::optional<ShellLink> object = createShellLink();
    if (!object) return;
    targetResult_ = object->link->SetPath(target.c_str());
    if (FAILED(targetResult_)) return;
    if (!workingDirectory.empty())
        targetResult_ = object->link->SetWorkingDirectory(workingDirectory.c_str());
    object_ = std::move(object);
}

}  // namespace tendril
