// The prefix has no program for ".msu" files, so ShellExecuteExW cannot start an update package.
// A test registers its own program for them while it runs.
#pragma once

#include <optional>
#include <string>

namespace tendril::test {

// While it lives, HKLM\SOFTWARE\Classes\.msu names the ProgId "TendrilTest.UpdatePackage", whose
// shell\open\command runs "<program>" "%1". On destruction the ProgId is removed and ".msu" is
// put back as it was (removed when it did not exist before).
class MsuAssociation {
public:
    explicit MsuAssociation(const std::wstring& programPath);
    ~MsuAssociation();
    MsuAssociation(const MsuAssociation&) = delete;
    MsuAssociation& operator=(const MsuAssociation&) = delete;

    // The registration was written.
    bool ok() const { return ok_; }

    static constexpr const wchar_t* kExtensionKey = L"SOFTWARE\\Classes\\.msu";
    static constexpr const wchar_t* kProgIdKey = L"SOFTWARE\\Classes\\TendrilTest.UpdatePackage";

private:
    bool ok_ = false;
    bool extensionExisted_ = false;
    std::optional<std::wstring> previousProgId_;
};

// The default value of a key below HKEY_LOCAL_MACHINE; nothing when the key or value is missing.
std::optional<std::wstring> defaultValueOf(const std::wstring& keyPath);

}  // namespace tendril::test
