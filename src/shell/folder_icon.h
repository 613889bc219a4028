// Giving a folder the icon of a program through the shell's folder custom settings, which the
// shell records in the folder's Desktop.ini. The shortcut removal later recognises a program group
// that holds nothing but that file.
//
// The procedure is looked up in shell32 at run time: some systems export it only under its wide
// name "SHGetSetFolderCustomSettingsW", others (Wine among them) only unsuffixed. Both take the
// wide record.
#pragma once

#include <shlobj.h>
#include <windows.h>

#include <optional>
#include <string>

namespace tendril {

using FolderSettingsProc = HRESULT(WINAPI*)(SHFOLDERCUSTOMSETTINGS* settings, const wchar_t* path,
                                            DWORD readWrite);

// The look-up by procedure name, replaceable so that tests can see the record that is passed or
// play a system that offers neither name.
struct FolderSettingsLookup {
    FolderSettingsProc (*find)(HMODULE shell32, const char* name);
};

// GetProcAddress in the loaded shell32.
const FolderSettingsLookup& realFolderSettingsLookup();

// The two names, in the order they are tried.
constexpr char kFolderSettingsNameW[] = "SHGetSetFolderCustomSettingsW";
constexpr char kFolderSettingsName[] = "SHGetSetFolderCustomSettings";

// The record that sets only the icon file: zero-filled, dwSize its size, dwMask FCSM_ICONFILE,
// pszIconFile the given text (which must outlive the record), cchIconFile 0, icon index 0.
SHFOLDERCUSTOMSETTINGS folderIconSettings(wchar_t* iconFile);

// Loads shell32.dll, finds the procedure by the first name the look-up knows and calls it with
// folderIconSettings(iconFile), folder and FCS_FORCEWRITE. Its HRESULT, or nothing when shell32
// cannot be loaded or offers neither name (then nothing is changed).
std::optional<HRESULT> applyFolderIcon(const std::wstring& folder, const std::wstring& iconFile,
                                       const FolderSettingsLookup& lookup);

}  // namespace tendril
