#include "system_programs.h"

#include <vector>

namespace tendril::test {

namespace {

constexpr wchar_t kProgId[] = L"TendrilTest.UpdatePackage";
// Held by whatever changes the system folder, in every test process of the prefix.
constexpr wchar_t kSystemFolderLock[] = L"TendrilTest.SystemFolder";
constexpr DWORD kLockWaitMs = 300000;
constexpr wchar_t kWineOverrides[] = L"Software\\Wine\\DllOverrides";
constexpr wchar_t kInstallerName[] = L"wusa.exe";

bool setString(HKEY root, const std::wstring& keyPath, const wchar_t* name,
               const std::wstring& value) {
    UniqueKey key;
    if (::RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                          nullptr) != ERROR_SUCCESS)
        return false;
    return ::RegSetValueExW(
               key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void deleteValue(HKEY root, const std::wstring& keyPath, const wchar_t* name) {
    UniqueKey key;
    if (::RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
        ::RegDeleteValueW(key.get(), name);
}

bool keyExists(HKEY root, const std::wstring& keyPath) {
    UniqueKey key;
    return ::RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

}  // namespace

std::wstring systemFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

bool sameFile(const std::wstring& a, const std::wstring& b) {
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    const std::wstring* paths[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        const UniqueFile file(::CreateFileW(paths[i]->c_str(), 0,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file || !::GetFileInformationByHandle(file.get(), &info[i])) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
           info[0].nFileIndexLow == info[1].nFileIndexLow;
}

std::optional<std::wstring> defaultValueOf(HKEY root, const std::wstring& keyPath) {
    UniqueKey key;
    if (::RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                           &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(text.data());
}

SystemFolderLock::SystemFolderLock() : mutex_(::CreateMutexW(nullptr, FALSE, kSystemFolderLock)) {
    if (!mutex_) return;
    const DWORD wait = ::WaitForSingleObject(mutex_.get(), kLockWaitMs);
    held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

SystemFolderLock::~SystemFolderLock() {
    if (held_) ::ReleaseMutex(mutex_.get());
}

SystemFileSwap::SystemFileSwap(const std::wstring& fileName, const std::wstring& replacement) {
    const std::wstring folder = systemFolder();
    if (!lock_.held() || folder.empty()) return;
    path_ = folder + L"\\" + fileName;
    saved_ = path_ + L".tendril-test-saved";
    // A run that was killed left its swap in place: the saved file is the original.
    if (::GetFileAttributesW(saved_.c_str()) != INVALID_FILE_ATTRIBUTES &&
        !::MoveFileExW(saved_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING))
        return;
    if (!::MoveFileW(path_.c_str(), saved_.c_str())) return;
    ok_ = replacement.empty() || ::CopyFileW(replacement.c_str(), path_.c_str(), TRUE);
}

SystemFileSwap::~SystemFileSwap() {
    // A stand-in program may still be ending: give it a moment to let go of its file.
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (saved_.empty() || ::GetFileAttributesW(saved_.c_str()) == INVALID_FILE_ATTRIBUTES ||
            ::MoveFileExW(saved_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING))
            break;
        ::Sleep(100);
    }
}

StandInUpdateInstaller::StandInUpdateInstaller(const std::wstring& program)
    : swap_(kInstallerName, program) {
    ok_ = swap_.ok() && setString(HKEY_CURRENT_USER, kWineOverrides, kInstallerName, L"native");
}

StandInUpdateInstaller::~StandInUpdateInstaller() {
    deleteValue(HKEY_CURRENT_USER, kWineOverrides, kInstallerName);
}

MsuAssociation::MsuAssociation(HKEY root, const std::wstring& programPath) : root_(root) {
    extensionExisted_ = keyExists(root_, kExtensionKey);
    previousProgId_ = defaultValueOf(root_, kExtensionKey);
    // A registration left behind by a test run that was killed is ours: do not restore it.
    if (previousProgId_ == kProgId) {
        extensionExisted_ = false;
        previousProgId_.reset();
    }
    ok_ = setString(root_, std::wstring(kProgIdKey) + L"\\shell\\open\\command", nullptr,
                    L"\"" + programPath + L"\" \"%1\"") &&
          setString(root_, kExtensionKey, nullptr, kProgId);
}

MsuAssociation::~MsuAssociation() {
    ::RegDeleteTreeW(root_, kProgIdKey);
    if (!extensionExisted_) {
        ::RegDeleteTreeW(root_, kExtensionKey);
        ::RegDeleteKeyW(root_, kExtensionKey);
    } else if (previousProgId_) {
        setString(root_, kExtensionKey, nullptr, *previousProgId_);
    } else {
        deleteValue(root_, kExtensionKey, nullptr);
    }
}

}  // namespace tendril::test
