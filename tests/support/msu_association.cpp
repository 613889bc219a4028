#include "msu_association.h"

#include "common/unique_handle.h"

#include <windows.h>

#include <vector>

namespace tendril::test {

namespace {

constexpr wchar_t kProgId[] = L"TendrilTest.UpdatePackage";

bool setDefaultValue(const std::wstring& keyPath, const std::wstring& value) {
    UniqueKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                          nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return ::RegSetValueExW(
               key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool keyExists(const std::wstring& keyPath) {
    UniqueKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.put()) ==
           ERROR_SUCCESS;
}

}  // namespace

std::optional<std::wstring> defaultValueOf(const std::wstring& keyPath) {
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS)
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

MsuAssociation::MsuAssociation(const std::wstring& programPath) {
    extensionExisted_ = keyExists(kExtensionKey);
    previousProgId_ = defaultValueOf(kExtensionKey);
    // A registration left behind by a test run that was killed is ours: do not restore it.
    if (previousProgId_ == kProgId) {
        extensionExisted_ = false;
        previousProgId_.reset();
    }
    ok_ = setDefaultValue(std::wstring(kProgIdKey) + L"\\shell\\open\\command",
                          L"\"" + programPath + L"\" \"%1\"") &&
          setDefaultValue(kExtensionKey, kProgId);
}

MsuAssociation::~MsuAssociation() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProgIdKey);
    if (!extensionExisted_) {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kExtensionKey);
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kExtensionKey);
    } else if (previousProgId_) {
        setDefaultValue(kExtensionKey, *previousProgId_);
    } else {
        UniqueKey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kExtensionKey, 0, KEY_SET_VALUE, key.put()) ==
            ERROR_SUCCESS)
            ::RegDeleteValueW(key.get(), nullptr);
    }
}

}  // namespace tendril::test
