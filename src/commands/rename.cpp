#include "commands/rename.h"

#include "common/ascii_case.h"
#include "filetree/anchored_folder.h"
#include "filetree/directory_removal.h"
#include "filetree/tree_entry.h"
#include "filetree/path_forms.h"
#include "filetree/path_guard.h"
#include "filetree/protected_locations.h"
#include "install/client_installation.h"
#include "install/install_directory_list.h"
#include "install/registry_key.h"
#include "install/uninstall_entry.h"
#include "launcher_link/error_store.h"
#include "launcher_link/launcher_user.h"
#include "launcher_link/process_state.h"
#include "launcher_link/progress.h"
#include "log/log.h"
#include "shell/shortcut_ownership.h"
#include "shell/shortcut_removal.h"

#include <tendril/protocol.h>

#include <windows.h>

namespace tendril {

namespace {

constexpr int kMoveAttempts = 10;
constexpr DWORD kMoveRetryDelayMs = 250;
constexpr std::size_t kFolderFieldChars = sizeof(AssistantRequest::installFolder) / sizeof(wchar_t);

bool sameIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Removes only what the two anchors found is one folder, one inside the other, or the other way.
bool anchoredOverlap(const std::wstring& source, const std::wstring& destination) {
    const std::wstring a = anchorFolder(source, GuardUse::Request).fullPath();
    const std::wstring b = anchorFolder(destination, GuardUse::Request).fullPath();
    return a.empty() || b.empty() || equalIgnoringAsciiCase(a, b) || isInsideFolder(a, b) ||
           isInsideFolder(b, a);
}

// One attempt: both folders anchored again, the source moved by its handle into the handle of the
// destination's parent. The destination must not exist by then.
bool moveOnce(const std::wstring& source, const std::wstring& destination) {
    const Anchor from = anchorFolder(source, GuardUse::Request);
    if (!from.exists()) return false;
    // The right to move it, asked of the object we opened: refused while another handle on the
    // folder does not share deletion, as a move by path would be.
    const UniqueFile movable(::ReOpenFile(from.folder.get(), DELETE | SYNCHRONIZE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
    if (!movable) return false;
    const Anchor to = anchorFolder(destination, GuardUse::Request);
    if (to.refused() || to.missing.size() != 1) return false;
    return moveFolderInto(movable.get(), to.folder.get(), to.missing.front());
}

// A plain guest.dat directly inside the anchored folder.
bool isGuestInstallation(const std::wstring& folder) {
    const Anchor anchor = anchorFolder(folder, GuardUse::Request);
    ChildEntry entry;
    return anchor.exists() && findChild(anchor.folder.get(), L"guest.dat", entry) && entry.found &&
           entryKind(entry.attributes, entry.reparseTag) == EntryKind::File;
}

// A destination we may clear and move onto, and locations we may take the registration from and
// to: a destination that is empty, relative or a root would have us remove whatever the current
// folder or a drive holds.
bool refuseLocations(const std::wstring& source, const std::wstring& destination,
                     const std::wstring& regPath, const std::wstring& oldRegPath) {
    for (const std::wstring* folder : {&source, &destination}) {
        if (!isWalkablePath(*folder) || folder->size() >= kFolderFieldChars - 1) {
            logText((L"Refused protected location: " + *folder).c_str(), true);
            return true;
        }
        // Decided on the folder as opened from its drive down: a link on the way to either,
        // even to a destination that does not exist yet, is refused. The source, and a
        // destination that exists and would be cleared, must be folders the launcher's user
        // could change himself.
        Anchor anchor = anchorFolderOrLog(*folder, GuardUse::Request);
        if (anchor.refused() || refuseUnlessLaunchersOwn(anchor, *folder)) return true;
    }
    // The registration that follows the move records the shortcut's folder: refused there, it
    // would leave the installation moved and unregistered.
    // An empty old registry path names no old record: the rename then registers afresh.
    return refuseClientKey(regPath) || (!oldRegPath.empty() && refuseClientKey(oldRegPath)) ||
           refuseUninstallEntryName(fieldText(assistantRequest.longName)) ||
           refuseShortcutFolder(fieldText(assistantRequest.shortcutFolder));
}

bool moveFolder(const std::wstring& source, const std::wstring& destination,
                const std::wstring& cutFolder) {
    if (cutFolder.size() < 3) return false;
    // The destination is cleared before the move: if it holds the installation, or lies inside
    // it, or names it another way ("C:/Games/X", a short name, a link), clearing it would delete
    // what we were asked to move.
    if (anchoredOverlap(source, destination)) {
        logFormat(true, L"Refused destination overlapping the installation: %ls",
                  destination.c_str());
        return false;
    }
    {
        // Decided again on the folder that is cleared, through the handle that clears it.
        Anchor existing =
            anchorFolderOrLog(destination, GuardUse::Request, DELETE | FILE_WRITE_ATTRIBUTES);
        if (existing.refused() || refuseUnlessLaunchersOwn(existing, destination)) return false;
        if (existing.exists()) removeFolderTree(existing.folder);
    }
    if (anchorFolder(destination, GuardUse::Request).exists()) return false;
    bool moved = false;
    for (int attempt = 1; attempt <= kMoveAttempts && !moved; ++attempt) {
        moved = moveOnce(source, destination);
        if (!moved) ::Sleep(kMoveRetryDelayMs);
        notifyProgress(10 + attempt);
    }
    logFormat(true, L"MoveFiles from \"%ls\" to \"%ls\" result %ls", source.c_str(),
              destination.c_str(), moved ? L"ok" : L"fail");
    return moved;
}

// Deletes the Uninstall entry of the old long name and slot, when it is this installation's: its
// "InstallLocation" names the folder at either end of the move.
void deleteOldUninstallEntry(const std::wstring& oldLongName, int slot, const std::wstring& source,
                             const std::wstring& destination) {
    logText(L"delete old uninstall information", true);
    const std::wstring keyName = uninstallEntryName(oldLongName, slot);
    const std::wstring keyPath = std::wstring(kUninstallRoot) + L"\\" + keyName;
    logFormat(true, L"SHDeleteKey: %ls", keyPath.c_str());
    AnchoredKey entry = openUninstallEntry(keyName);
    if (isInstallationsEntry(entry, keyName, {source, destination})) deleteUninstallEntry(entry);
}

// Takes the installation's record and Uninstall entry off the old registry path, or renames its
// record in place (taking the old long name's entry away). The slot the re-registration keeps, or
// -1 for a fresh one.
int moveRecords(const std::wstring& source, const std::wstring& destination,
                const std::wstring& regPath, const std::wstring& oldRegPath,
                const std::wstring& oldLongName) {
    InstallDirectoryList list;
    if (oldRegPath != regPath) {
        list.open(oldRegPath);
        const int slot = list.indexOf(source);
        if (slot >= 0) deleteOldUninstallEntry(oldLongName, slot, source, destination);
        logFormat(true, L"DeleteInstallDirectoryes: %ls", source.c_str());
        list.remove(source);
        return -1;
    }
    list.open(regPath);
    const int slot = list.indexOf(source);
    logFormat(true, L"RenameInstallDirectoryes: index = %d", slot);
    if (slot >= 0) {
        list.load();
        list.slots()[slot] = destination;
        list.store();
        // The re-registration writes the entry under the new long name: one left under the old
        // name would stay in the system's list of programs, naming a folder that moved away.
        if (!equalIgnoringAsciiCase(uninstallEntryName(oldLongName, slot),
                                    uninstallEntryName(fieldText(assistantRequest.longName), slot)))
            deleteOldUninstallEntry(oldLongName, slot, source, destination);
    }
    return slot;
}

}  // namespace

std::array<std::wstring, 5> splitQuotedValues(const std::wstring& argument) {
    std::array<std::wstring, 5> values;
    std::size_t position = 0;
    for (std::wstring& value : values) {
        const std::size_t open = argument.find(L'"', position);
        if (open == std::wstring::npos) break;
        const std::size_t close = argument.find(L'"', open + 1);
        if (close == std::wstring::npos) break;
        value = argument.substr(open + 1, close - open - 1);
        position = close + 1;
    }
    return values;
}

bool commands::SetLongName() {
    const std::wstring argument = fieldText(assistantRequest.argument);
    logText(L"SetLongName - begin", true);
    logText(argument.c_str(), true);
    const std::wstring source = fieldText(assistantRequest.installFolder);
    const bool guest = isGuestInstallation(source);
    const auto [destination, oldShortName, oldLongName, oldRegPath, oldIconName] =
        splitQuotedValues(argument);
    const std::size_t lastSlash = source.rfind(L'\\');
    const std::wstring cutFolder =
        lastSlash == std::wstring::npos ? std::wstring() : source.substr(0, lastSlash + 1);
    const std::wstring regPath = fieldText(assistantRequest.regPath);
    notifyProgress(10);

    const std::pair<const wchar_t*, std::wstring> lines[] = {
        {L"sInstallFolderSrc", source},
        {L"sInstallFolderDst", destination},
        {L"sOldShortName", oldShortName},
        {L"sNewShortName", fieldText(assistantRequest.shortName)},
        {L"sOldLongName", oldLongName},
        {L"sNewLongName", fieldText(assistantRequest.longName)},
        {L"sOldRegPath", oldRegPath},
        {L"sNewRegPath", regPath},
        {L"sOldIconName", oldIconName},
        {L"sNewIconName", fieldText(assistantRequest.iconName)},
        {L"sCutInstallFolder", cutFolder},
    };
    logText(L"", true);
    for (const auto& [name, value] : lines) logFormat(true, L"%ls = %ls", name, value.c_str());
    logText(L"", true);

    if (refuseLocations(source, destination, regPath, oldRegPath) ||
        (!sameIgnoringCase(source, destination) && !moveFolder(source, destination, cutFolder))) {
        setLastAssistantError(InstallFolderUnavailable);
        return false;
    }

    const int slot =
        guest ? -1 : moveRecords(source, destination, regPath, oldRegPath, oldLongName);
    notifyProgress(80);
    logText(L"deleteAllShortcut", true);
    deleteAllShortcut(source + L"\\Launcher.exe", oldLongName);
    notifyProgress(90);
    // The re-registration's shortcut pass replaces the shortcuts that still lead into the old
    // folder; those are the installation's too.
    addShortcutOwner(source);
    // The re-registration reads the request: from now on it names the new folder.
    std::fill(std::begin(assistantRequest.installFolder), std::end(assistantRequest.installFolder),
              L'\0');
    destination.copy(assistantRequest.installFolder, kFolderFieldChars - 2);
    if (!guest) InstallClient(slot);
    notifyProgress(100);
    logText(L"SetLongName - end", true);
    return true;
}

}  // namespace tendril
