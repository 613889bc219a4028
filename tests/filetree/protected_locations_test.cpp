// The protected-locations guard, decided against the prefix's real system folders.
#include "filetree/protected_locations.h"

#include "support/test_support.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>

namespace tendril::test {
namespace {

std::wstring folderOf(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    return SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))
               ? std::wstring(buffer)
               : std::wstring();
}

std::wstring windowsFolder() {
    wchar_t buffer[MAX_PATH] = {};
    ::GetWindowsDirectoryW(buffer, MAX_PATH);
    return buffer;
}

std::wstring parentOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

std::wstring upper(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return text;
}

std::wstring slashes(std::wstring text) {
    std::replace(text.begin(), text.end(), L'\\', L'/');
    return text;
}

std::wstring ownFolder() {
    wchar_t buffer[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return parentOf(buffer);
}

struct FolderCase {
    std::wstring path;
    bool forRequest;   // protected for a location a request names
    bool forWalk;      // protected as the root of a walk
    bool forShortcut;  // protected as the folder of the client's shortcut
};

TEST(ProtectedLocations, FoldersAreDecidedByTheTable) {
    const std::wstring windows = windowsFolder();
    const std::wstring programFiles = folderOf(CSIDL_PROGRAM_FILES);
    const std::wstring programData = folderOf(CSIDL_COMMON_APPDATA);
    const std::wstring profile = folderOf(CSIDL_PROFILE);
    const std::wstring commonPrograms = folderOf(CSIDL_COMMON_PROGRAMS);
    const std::wstring userPrograms = folderOf(CSIDL_PROGRAMS);
    const std::wstring startup = folderOf(CSIDL_COMMON_STARTUP);
    const std::wstring desktop = folderOf(CSIDL_COMMON_DESKTOPDIRECTORY);
    ASSERT_FALSE(windows.empty() || programFiles.empty() || programData.empty() ||
                 profile.empty() || commonPrograms.empty() || userPrograms.empty() ||
                 startup.empty());

    const FolderCase cases[] = {
        // The Windows folder, everything inside it, and every ancestor (the drive itself).
        {windows, true, true, true},
        {upper(windows) + L"\\", true, true, true},
        {slashes(windows) + L"/System32", true, true, true},
        {windows + L"\\System32\\drivers", true, true, true},
        {windows.substr(0, 3), true, true, true},
        {windows + L"2\\Client", false, false, false},
        // Program Files: the folder itself, not what is installed in it.
        {programFiles, true, true, true},
        {upper(programFiles), true, true, true},
        {programFiles + L"\\Client", false, false, false},
        {programFiles + L"\\Client\\..", true, true, true},
        {slashes(programFiles) + L"/Client/../", true, true, true},
        {programFiles + L"\\Client\\Sub\\..\\..\\..\\" + windows.substr(3), true, true, true},
        // ProgramData itself and its Microsoft folder with all inside.
        {programData, true, true, true},
        {programData + L"\\Client", false, false, false},
        {programData + L"\\Microsoft", true, true, true},
        {programData + L"\\Microsoft\\Crypto", true, true, true},
        // The profiles: the folder of profiles, each profile, anything inside one.
        {parentOf(profile), true, true, true},
        {profile, true, true, true},
        {upper(profile) + L"\\Documents\\Client", true, true, true},
        {parentOf(profile) + L"\\Public\\Games", true, true, true},
        // The shortcut folders and what lies in them: a walk may remove a program group there,
        // and the client's shortcut may lie anywhere there.
        {commonPrograms, true, true, false},
        {commonPrograms + L"\\Client", true, false, false},
        {userPrograms + L"\\Client", true, false, false},
        {desktop + L"\\Client", true, false, false},
        {commonPrograms + L"\\Client\\..", true, true, false},
        {desktop, true, true, false},
        // The all-users Startup folder and inside, for walks and shortcuts too.
        {startup, true, true, true},
        {startup + L"\\Client", true, true, true},
        // The folder we run from, not what lies inside it.
        {ownFolder(), true, true, true},
        {ownFolder() + L"\\Client", false, false, false},
        // Allowed neighbours.
        {L"D:\\Games\\Client", false, false, false},
        {L"C:\\TendrilTests\\Client", false, false, false},
        {L"c:/tendriltests//client/", false, false, false},
    };
    for (const FolderCase& c : cases) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
        EXPECT_EQ(isProtectedFolder(c.path), c.forRequest);
        EXPECT_EQ(isProtectedFolder(c.path, GuardUse::WalkRoot), c.forWalk);
        EXPECT_EQ(isProtectedFolder(c.path, GuardUse::ShortcutFolder), c.forShortcut);
    }
}

// A folder of ours that is a link to the Windows folder names the Windows folder.
TEST(ProtectedLocations, ALinkToASystemFolderIsThatFolder) {
    ScratchFolder scratch(L"guard");
    const std::wstring link = scratch / L"link";
    runUnix("/bin/ln", {"-s", unixPath(windowsFolder()), unixPath(link)});
    for (int i = 0; i < 50 && !exists(link); ++i) ::Sleep(20);
    ASSERT_TRUE(exists(link)) << "ln -s did not make the link";
    const bool result = isProtectedFolder(link + L"\\System32");
    runUnix("/bin/rm", {unixPath(link)});
    for (int i = 0; i < 50 && exists(link); ++i) ::Sleep(20);
    EXPECT_TRUE(result);
}

TEST(ProtectedLocations, RegistryPathsAreDecidedByTheTable) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"", true},
        {L"SOFTWARE", true},
        {L"\\SOFTWARE\\", true},
        {L"SOFTWARE\\Microsoft", true},
        {L"software\\microsoft\\Windows\\CurrentVersion\\Uninstall", true},
        {L"SOFTWARE\\\\Microsoft\\Windows", true},
        {L"SOFTWARE\\Classes\\.msu", true},
        {L"SOFTWARE\\Policies\\Vendor", true},
        {L"SOFTWARE\\WOW6432Node", true},
        {L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows", true},
        {L"SOFTWARE\\WOW6432Node\\Classes", true},
        {L"SYSTEM\\CurrentControlSet\\Services", true},
        {L"SECURITY\\Policy", true},
        {L"SAM\\SAM", true},
        {L"HARDWARE\\DESCRIPTION", true},
        {L"BCD00000000\\Objects", true},
        {L"SOFTWARE\\Vendor", false},
        {L"SOFTWARE\\Vendor\\Client", false},
        {L"SOFTWARE\\MicrosoftGames\\Client", false},
        {L"SOFTWARE\\WOW6432Node\\Vendor\\Client", false},
        {L"SOFTWARE\\TendrilTest\\x", false},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(std::string(path, path + wcslen(path)));
        EXPECT_EQ(isProtectedRegistryPath(path), expected);
    }
}

TEST(ProtectedLocations, ExecutablesInsideTheWindowsFolderAreProtected) {
    const std::wstring windows = windowsFolder();
    const std::pair<std::wstring, bool> cases[] = {
        {windows + L"\\System32\\notepad.exe", true},
        {slashes(upper(windows)) + L"/explorer.exe", true},
        {windows + L"\\..\\" + windows.substr(3) + L"\\regedit.exe", true},
        {folderOf(CSIDL_PROGRAM_FILES) + L"\\Client\\client.exe", false},
        {windows + L"2\\client.exe", false},
        {L"D:\\Games\\Client\\client.exe", false},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        EXPECT_EQ(isProtectedExecutable(path), expected);
    }
}

}  // namespace
}  // namespace tendril::test
