// Windows' own programs and libraries made to behave as a test needs: the update installer
// (wusa.exe) replaced by a stand-in whose exit code the test chooses, a system library taken
// away, and programs registered for ".msu" files. The system folder is shared by every test
// program of the prefix, so whatever changes it holds a lock across processes while it lives,
// and puts the folder back when destroyed; what a run that was killed left changed is put back by
// the next one.
#pragma once

#include "common/unique_handle.h"

#include <windows.h>

#include <optional>
#include <string>

namespace tendril::test {

// The system folder (GetSystemDirectoryW) as this process sees it.
std::wstring systemFolder();

// Both paths name one existing file (same volume and file id), however they read: a 32-bit
// program on 64-bit Windows sees System32 as the folder that is SysWOW64 to everyone else.
bool sameFile(const std::wstring& a, const std::wstring& b);

// Held while the system folder is changed, or while a test needs it as it is: one holder at a
// time among all the processes of the prefix. A holder that was killed leaves the lock to the
// next.
class SystemFolderLock {
public:
    SystemFolderLock();
    ~SystemFolderLock();
    SystemFolderLock(const SystemFolderLock&) = delete;
    SystemFolderLock& operator=(const SystemFolderLock&) = delete;

    bool held() const { return held_; }

private:
    UniqueHandle mutex_;
    bool held_ = false;
};

// While it lives, <system folder>\<fileName> is a copy of replacement, or is missing when
// replacement is empty. The original is kept beside it as "<fileName>.tendril-test-saved".
class SystemFileSwap {
public:
    SystemFileSwap(const std::wstring& fileName, const std::wstring& replacement);
    ~SystemFileSwap();
    SystemFileSwap(const SystemFileSwap&) = delete;
    SystemFileSwap& operator=(const SystemFileSwap&) = delete;

    // The swap was made.
    bool ok() const { return ok_; }
    const std::wstring& path() const { return path_; }

private:
    SystemFolderLock lock_;
    std::wstring path_;
    std::wstring saved_;
    bool ok_ = false;
};

// While it lives, the system folder's wusa.exe is program. Wine's own wusa.exe is a built-in that
// Wine loads in place of any file of that name, so Wine is also told to run the file as it is
// (HKCU\Software\Wine\DllOverrides "wusa.exe" = "native", removed again afterwards).
class StandInUpdateInstaller {
public:
    explicit StandInUpdateInstaller(const std::wstring& program);
    ~StandInUpdateInstaller();
    StandInUpdateInstaller(const StandInUpdateInstaller&) = delete;
    StandInUpdateInstaller& operator=(const StandInUpdateInstaller&) = delete;

    bool ok() const { return ok_; }
    // <system folder>\wusa.exe: the path Tendril must start.
    const std::wstring& path() const { return swap_.path(); }

private:
    SystemFileSwap swap_;
    bool ok_ = false;
};

// While it lives, root\<classes>\.msu names the ProgId "TendrilTest.UpdatePackage", whose
// shell\open\command runs "<program>" "%1"; classes is "SOFTWARE\Classes" (below HKLM: what every
// user's HKCR shows; below HKCU: what Windows shows that one user first). On destruction the ProgId
// is removed and ".msu" is put back as it was (removed when it did not exist before).
class MsuAssociation {
public:
    MsuAssociation(HKEY root, const std::wstring& programPath);
    ~MsuAssociation();
    MsuAssociation(const MsuAssociation&) = delete;
    MsuAssociation& operator=(const MsuAssociation&) = delete;

    // The registration was written.
    bool ok() const { return ok_; }

    static constexpr const wchar_t* kExtensionKey = L"SOFTWARE\\Classes\\.msu";
    static constexpr const wchar_t* kProgIdKey = L"SOFTWARE\\Classes\\TendrilTest.UpdatePackage";

private:
    HKEY root_;
    bool ok_ = false;
    bool extensionExisted_ = false;
    std::optional<std::wstring> previousProgId_;
};

// The default value of a key below root; nothing when the key or value is missing.
std::optional<std::wstring> defaultValueOf(HKEY root, const std::wstring& keyPath);

}  // namespace tendril::test
