#include "rename_argument.h"

#include "request_fields.h"
#include "text.h"

namespace tendril::tool {

namespace {

const RenameOption kRenameOptions[kRenameValueCount] = {
    {"--new-install-folder",
     "Command 8: full path the installation folder moves to (default: --install-folder, no move).",
     "--install-folder"},
    {"--old-short-name",
     "Command 8: the client's short name before the rename (default: "
     "--short-name, unchanged).",
     "--short-name"},
    {"--old-long-name",
     "Command 8: the long name before the rename: the program group whose shortcuts to "
     "Launcher.exe are removed and, with a new --reg-path, the name of the Uninstall entry "
     "removed (default: --long-name, unchanged).",
     "--long-name"},
    {"--old-reg-path",
     "Command 8: the registry path before the rename; when it differs from --reg-path, the old "
     "record and Uninstall entry are removed and the installation is registered afresh (default: "
     "--reg-path, the record is renamed in place).",
     "--reg-path"},
    {"--old-icon-name",
     "Command 8: the icon name before the rename (default: --icon-name, unchanged).",
     "--icon-name"},
};

}  // namespace

std::span<const RenameOption> renameOptions() { return kRenameOptions; }

std::string quoteRenameArgument(const std::array<RenameValue, kRenameValueCount>& values,
                                std::wstring& argument) {
    std::wstring quoted;
    for (const RenameValue& value : values) {
        if (value.text.find(L'"') != std::wstring::npos)
            return value.option + " holds a double quote (" + toUtf8(value.text) +
                   "): the rename's values travel between double quotes in --argument, so none "
                   "can hold one";
        if (!quoted.empty()) quoted += L' ';
        quoted += L'"' + value.text + L'"';
    }
    if (quoted.size() > kArgumentLimit)
        return tooLong("--argument quoted from --new-install-folder and the --old-* options",
                       quoted.size(), kArgumentLimit);
    argument = quoted;
    return std::string();
}

}  // namespace tendril::tool
