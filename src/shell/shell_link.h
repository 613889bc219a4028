// The shell's link object (CLSID_ShellLink) with the two interfaces we use on it: IShellLinkW to
// set or read what a shortcut starts, IPersistFile to save it to a .lnk file or load one.
#pragma once

#include <shlobj.h>
#include <windows.h>
#include <wrl/client.h>

#include <optional>
#include <string>

namespace tendril {

struct ShellLink {
    Microsoft::WRL::ComPtr<IShellLinkW> link;
    Microsoft::WRL::ComPtr<IPersistFile> file;
};

// A new, empty shell link object with both interfaces; nothing when either cannot be had. COM
// must be initialised on this thread (ComScope).
std::optional<ShellLink> createShellLink();

// The target stored in the shortcut file at path, loaded into object (whatever it held before is
// replaced), and put through normalizeInstallPath. Nothing when the file cannot be loaded as a
// shortcut, or when its target cannot be read as a file-system path (a link to a virtual item):
// such a file tells us nothing about where it leads. loaded, when given, says whether the load
// itself succeeded.
std::optional<std::wstring> storedTarget(const ShellLink& object, const std::wstring& path,
                                         bool* loaded = nullptr);

}  // namespace tendril
