#include "security_traces.h"

#include "common/unique_handle.h"

#include <windows.h>
#include <sddl.h>

#include <vector>

namespace tendril::test {

namespace {

std::wstring daclText(PSECURITY_DESCRIPTOR descriptor) {
    LPWSTR text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return L"";
    std::wstring result = text;
    ::LocalFree(text);
    return result;
}

}  // namespace

std::wstring fileDaclText(const std::wstring& path) {
    DWORD needed = 0;
    ::GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    if (needed == 0) return L"";
    std::vector<BYTE> buffer(needed);
    if (!::GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, buffer.data(), needed,
                            &needed))
        return L"";
    return daclText(buffer.data());
}

std::wstring keyDaclText(const std::wstring& path) {
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, READ_CONTROL,
                        key.put()) != ERROR_SUCCESS)
        return L"";
    DWORD size = 0;
    ::RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    if (size == 0) return L"";
    std::vector<BYTE> buffer(size);
    if (::RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, buffer.data(), &size) !=
        ERROR_SUCCESS)
        return L"";
    return daclText(buffer.data());
}

bool setKeyDacl(const std::wstring& path, const std::wstring& sddl) {
    UniqueKey key;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK,
                        READ_CONTROL | WRITE_DAC | WRITE_OWNER, key.put()) != ERROR_SUCCESS ||
        !::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        return false;
    // An owner given ("O:...") is set too: the owner may always change the access list.
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION | (sddl.rfind(L"O:", 0) == 0 ? OWNER_SECURITY_INFORMATION : 0);
    const bool set = ::RegSetKeySecurity(key.get(), what, descriptor) == ERROR_SUCCESS;
    ::LocalFree(descriptor);
    return set && keyDaclText(path) != L"";
}

// An access list without an Everyone entry: Wine turns it into Unix permissions without read
// access for others.
bool denyOthersOn(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    const bool set = ::SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
    ::LocalFree(descriptor);
    return set && !everyoneCanRead(path);
}

bool everyoneCanRead(const std::wstring& path) {
    return fileDaclText(path).find(L";;;WD)") != std::wstring::npos;
}

}  // namespace tendril::test
