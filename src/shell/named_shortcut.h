// One shortcut named by a request (a target, a name, a special folder and a program group),
// prepared in the same way whether it is about to be written or deleted: the arguments checked,
// COM opened for the operation, the folder placed by shortcutFolder, and a shell link object
// holding the target, with the target's folder as working directory.
#pragma once

#include "shell/com_scope.h"
#include "shell/shell_link.h"
#include "shell/shortcut_location.h"

#include <optional>
#include <string>

namespace tendril {

class NamedShortcut {
public:
    // Prepares nothing, and leaves COM untouched, for an empty target or a name isShortcutName
    // refuses. Otherwise opens COM, then stops at the first step that fails: COM, the special
    // folder, a subfolder shortcutFolder refuses, the shell link object, or SetPath. A working
    // directory that cannot be set is only remembered in targetResult.
    NamedShortcut(const std::wstring& target, const std::wstring& name, int csidl,
                  const std::wstring& subfolder);
    NamedShortcut(const NamedShortcut&) = delete;
    NamedShortcut& operator=(const NamedShortcut&) = delete;

    // False when a step failed: the operation then does nothing else.
    bool ok() const { return object_.has_value(); }

    // Valid only when ok().
    const ShortcutFolder& folder() const { return *folder_; }
    // "<folder>\<name>.lnk".
    const std::wstring& filePath() const { return filePath_; }
    const ShellLink& object() const { return *object_; }
    // The result of the last of SetPath and SetWorkingDirectory that was called.
    HRESULT targetResult() const { return targetResult_; }

private:
    // Declared first: destroyed last, after the interfaces are released.
    std::optional<ComScope> com_;
    std::optional<ShortcutFolder> folder_;
    std::wstring filePath_;
    std::optional<ShellLink> object_;
    HRESULT targetResult_ = E_FAIL;
};

}  // namespace tendril
