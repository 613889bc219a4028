#include "shell/folder_icon.h"

#include "common/unique_handle.h"

#include <vector>

namespace tendril {

// The record as a 32-bit build, the one that ships, passes it.
static_assert(sizeof(void*) != 4 || sizeof(SHFOLDERCUSTOMSETTINGS) == 60);

namespace {

FolderSettingsProc findInShell32(HMODULE shell32, const char* name) {
    return reinterpret_cast<FolderSettingsProc>(
        reinterpret_cast<void*>(::GetProcAddress(shell32, name)));
}

}  // namespace

const FolderSettingsLookup& realFolderSettingsLookup() {
    static constexpr FolderSettingsLookup lookup{findInShell32};
    return lookup;
}

SHFOLDERCUSTOMSETTINGS folderIconSettings(wchar_t* iconFile) {
    SHFOLDERCUSTOMSETTINGS settings;
    ::ZeroMemory(&settings, sizeof settings);
    settings.dwSize = sizeof settings;
    settings.dwMask = FCSM_ICONFILE;
    settings.pszIconFile = iconFile;
    settings.cchIconFile = 0;
    settings.iIconIndex = 0;
    return settings;
}

std::optional<HRESULT> applyFolderIcon(const std::wstring& folder, const std::wstring& iconFile,
                                       const FolderSettingsLookup& lookup) {
    const UniqueModule shell32(::LoadLibraryW(L"shell32.dll"));
    if (!shell32) return std::nullopt;
    FolderSettingsProc procedure = lookup.find(shell32.get(), kFolderSettingsNameW);
    if (!procedure) procedure = lookup.find(shell32.get(), kFolderSettingsName);
    if (!procedure) return std::nullopt;

    // The record wants a writable text; the shell only reads it for FCS_FORCEWRITE.
    std::vector<wchar_t> iconText(iconFile.begin(), iconFile.end());
    iconText.push_back(L'\0');
    SHFOLDERCUSTOMSETTINGS settings = folderIconSettings(iconText.data());
    return procedure(&settings, folder.c_str(), FCS_FORCEWRITE);
}

}  // namespace tendril
