// Helpers of the shortcut tests (unit and end-to-end): the prefix's real special folders, program
// groups with unique names that are removed afterwards, directory links, and a way to point the
// shell's special folders at scratch folders for the cases the real ones must not be put into.
#pragma once

#include "shell_link_reader.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <windows.h>

#include <string>
#include <vector>

namespace tendril::test {

// UTF-8 text of a path, for failure output.
std::string narrowPath(const std::wstring& path);

// The special folder's path; an empty string (and a test failure) when it cannot be looked up.
std::wstring specialFolder(int csidl);

// The names in a folder, sorted, without "." and ".."; folders end in "\".
std::vector<std::wstring> folderNames(const std::wstring& folder);

// A folder link made with the native ln -s (the only link Wine shows as a reparse point); true
// when it shows as one. removeDirectoryLink removes the link itself, never its target.
bool makeDirectoryLink(const std::wstring& target, const std::wstring& link);
void removeDirectoryLink(const std::wstring& link);

// A unique name for a shortcut or group, and the clean-up of everything whose name holds it in
// the prefix's real all-users desktop, Start menus, Programs and Startup folders. (The account's
// desktop is Wine's link to the Unix home folder: tests write nothing there.)
class UniqueShortcutNames {
public:
    UniqueShortcutNames();
    ~UniqueShortcutNames();
    UniqueShortcutNames(const UniqueShortcutNames&) = delete;
    UniqueShortcutNames& operator=(const UniqueShortcutNames&) = delete;

    // "<prefix>-<unique>": the group or shortcut name of this test.
    const std::wstring& name() const { return name_; }
    const std::wstring& startMenu() const { return startMenu_; }
    const std::wstring& programs() const { return programs_; }
    // <all-users Programs>\<name>
    std::wstring group() const { return programs_ + L"\\" + name_; }

private:
    std::wstring name_;
    std::wstring startMenu_;
    std::wstring programs_;
    std::vector<std::wstring> cleaned_;
};

// Points six special folders (the account's Start menu and Programs; the all-users desktop,
// Start menu, Programs and Startup) at folders of a scratch folder, each holding only a
// Desktop.ini, and puts the real ones back when destroyed. The shell reads "User Shell Folders"
// at every look-up. The account's desktop stays real: under Wine the shell's root, CSIDL_DESKTOP,
// answers with the real folder whatever that value says.
class RedirectedShellFolders {
public:
    RedirectedShellFolders();
    ~RedirectedShellFolders();
    RedirectedShellFolders(const RedirectedShellFolders&) = delete;
    RedirectedShellFolders& operator=(const RedirectedShellFolders&) = delete;

    bool ok() const { return ok_; }
    // What went wrong when not ok().
    const std::string& problem() const { return problem_; }
    // The six folders with the CSIDL each now answers to.
    struct Folder {
        int csidl;
        std::wstring path;
    };
    const std::vector<Folder>& folders() const { return folders_; }
    std::wstring pathOf(int csidl) const;
    const ScratchFolder& scratch() const { return scratch_; }

private:
    struct Saved {
        HKEY root;
        std::wstring value;
        bool existed;
        DWORD type;
        std::vector<BYTE> data;
    };
    ScratchFolder scratch_{L"shellfolders"};
    std::vector<Folder> folders_;
    std::vector<Saved> saved_;
    bool ok_ = false;
    std::string problem_;
};

}  // namespace tendril::test
