// The world every bad-input run happens in: a copy of tendril.exe, a work folder and a work key
// that requests may name, and a sentinel folder and key beside them that no request may change.
// Before each run the work folder and key are put back as they were; after each run the sentinels
// and the system's own folders and keys are compared with what they held before.
#pragma once

#include "e2e_support.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tendril::test::bad_input {

class World {
public:
    World();
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // In every name this run gives a shortcut, group or Uninstall entry, so that clean-up finds
    // exactly ours.
    const std::wstring& token() const { return token_; }
    const TendrilCopy& tendril() const { return tendril_; }
    // Empty when the sentinel folder and key were made as described, else the step that failed.
    const std::string& setUpFailure() const { return setUpFailure_; }

    const std::wstring& root() const { return root_.path(); }
    std::wstring work() const { return root_ / L"work"; }
    // work\client: the recorded installation (slot 0 of the work key).
    std::wstring client() const { return work() + L"\\client"; }
    std::wstring links() const { return work() + L"\\links"; }
    std::wstring sentinel() const { return root_ / L"sentinel"; }
    // Below HKEY_LOCAL_MACHINE.
    std::wstring workKey() const { return keyRoot_ + L"\\work\\product"; }
    std::wstring sentinelKey() const { return keyRoot_ + L"\\sentinel"; }

    // Puts the work folder and key back: client.exe, sub\editor.exe, data.txt, an empty links
    // folder, and the records with the client in slot 0 and extraRecord (when not empty) in
    // slot 1. Removes every shortcut, group and Uninstall entry an earlier run made.
    // The client's Uninstall entry (slot 0) names links\<token>Play.lnk as its shortcut, and
    // appList, when given, becomes its "applist.dat" (zeros after the bytes up to appListSize).
    // A shortcutFolder takes the place of links, as a registration sent that shortcutFolder
    // records it, and gets files of the names an uninstall deletes there (<token>Play.lnk, and
    // <token>Tool.lnk for an applist.dat record named <token>Tool): they stand for another
    // program's shortcuts in a folder that is not the client's.
    bool resetWork(const std::wstring& extraRecord, const std::optional<std::string>& appList = {},
                   std::uint64_t appListSize = 0, const std::wstring& shortcutFolder = {});
    void removeShellTraces() const;

    // The sentinel folder and key, byte for byte, with their access lists.
    std::string sentinelState() const;
    // The .lnk files of our names in the shortcutFolder given to resetWork, with their bytes:
    // the protected-location check leaves our names out. Empty without such a folder.
    std::string plantedState() const;
    // The system's own folders and keys (their direct contents and access lists), leaving out
    // what carries our token.
    std::map<std::string, std::string> protectedState() const;

    // What requests may name and must see refused.
    const std::vector<std::wstring>& protectedFolders() const { return protectedFolders_; }
    const std::vector<std::wstring>& protectedKeys() const { return protectedKeys_; }
    const std::vector<std::wstring>& protectedPrograms() const { return protectedPrograms_; }
    // Special folders a shortcut name or group is joined to, in this order: the all-users Start
    // Menu and Programs, the user's Start Menu and Programs, the all-users Startup and Desktop.
    const std::vector<std::wstring>& shortcutFolders() const { return shortcutFolders_; }

private:
    std::wstring token_;
    std::string setUpFailure_;
    ScratchFolder root_{L"bi"};
    std::wstring keyRoot_;
    TendrilCopy tendril_;
    std::vector<std::wstring> protectedFolders_, protectedKeys_, protectedPrograms_;
    std::vector<std::wstring> shortcutFolders_;
    // What the shortcut folders and the Uninstall key held before the first run: clean-up removes
    // whatever a run added to them.
    std::map<std::wstring, std::vector<std::wstring>> initialShortcutEntries_;
    std::vector<std::wstring> initialUninstallEntries_;
    // The shortcutFolder of the last resetWork, as a full path, and the files laid in it.
    std::wstring plantedFolder_;
    std::vector<std::wstring> planted_;
    void removePlanted();
};

}  // namespace tendril::test::bad_input
