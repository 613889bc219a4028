#include "launcher_link/launcher_user.h"


#include "log/log.h"

#include <vector>

namespace tendril {

bool (*launcherFolderAccessSeam)(HANDLE folder, ACCESS_MASK desired) = nullptr;

namespace {

UniqueHandle launcherToken;

GENERIC_MAPPING mappingFor(SecuredObject kind) {
    switch (kind) {
        case SecuredObject::RegistryKey:
            return {KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
        case SecuredObject::Process:
            return {STANDARD_RIGHTS_READ | PROCESS_VM_READ | PROCESS_QUERY_INFORMATION,
                    STANDARD_RIGHTS_WRITE | PROCESS_CREATE_PROCESS | PROCESS_CREATE_THREAD |
                        PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_DUP_HANDLE |
                        PROCESS_TERMINATE | PROCESS_SET_QUOTA | PROCESS_SET_INFORMATION |
                        PROCESS_SUSPEND_RESUME,
                    STANDARD_RIGHTS_EXECUTE | SYNCHRONIZE, PROCESS_ALL_ACCESS};
        case SecuredObject::FileOrFolder:
            break;
    }
    return {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
}

// The owner, group and access list of the object, as one self-relative descriptor.
std::vector<BYTE> securityOf(HANDLE object) {
    constexpr SECURITY_INFORMATION kWhat =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    std::vector<BYTE> descriptor(512);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD needed = 0;
        if (::GetKernelObjectSecurity(object, kWhat, descriptor.data(),
                                      static_cast<DWORD>(descriptor.size()), &needed))
            return descriptor;
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= descriptor.size()) break;
        descriptor.resize(needed);
    }
    return {};
}

// The same for a registry key, through the registry's own call.
std::vector<BYTE> keySecurityOf(HKEY key) {
    constexpr SECURITY_INFORMATION kWhat =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    if (::RegGetKeySecurity(key, kWhat, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return {};
    std::vector<BYTE> descriptor(size);
    if (::RegGetKeySecurity(key, kWhat, descriptor.data(), &size) != ERROR_SUCCESS) return {};
    return descriptor;
}

}  // namespace

bool takeLauncherUser(HANDLE launcherProcess) {
    launcherToken.reset();
    UniqueHandle token;
    if (launcherProcess == nullptr ||
        !::OpenProcessToken(launcherProcess, TOKEN_QUERY | TOKEN_DUPLICATE, token.put()))
        return false;
    UniqueHandle identification;
    if (!::DuplicateTokenEx(token.get(), TOKEN_QUERY, nullptr, SecurityIdentification,
                            TokenImpersonation, identification.put()))
        return false;
    launcherToken = std::move(identification);
    return true;
}

void forgetLauncherUser() { launcherToken.reset(); }

bool launcherUserKnown() { return launcherToken.valid(); }

bool launcherUserMay(HANDLE object, SecuredObject kind, ACCESS_MASK desired) {
    if (!launcherToken || object == nullptr || object == INVALID_HANDLE_VALUE) return false;
    if (kind == SecuredObject::FileOrFolder && launcherFolderAccessSeam != nullptr)
        return launcherFolderAccessSeam(object, desired);
    std::vector<BYTE> descriptor =
        kind == SecuredObject::RegistryKey ? keySecurityOf(static_cast<HKEY>(object))
                                           : securityOf(object);
    if (descriptor.empty()) return false;
    GENERIC_MAPPING mapping = mappingFor(kind);
    ::MapGenericMask(&desired, &mapping);
    PRIVILEGE_SET privileges;
    DWORD privilegesLength = sizeof privileges;
    DWORD granted = 0;
    BOOL status = FALSE;
    if (!::AccessCheck(descriptor.data(), launcherToken.get(), desired, &mapping, &privileges,
                       &privilegesLength, &granted, &status))
        return false;
    return status && (granted & desired) == desired;
}

bool refuseUnlessLaunchersOwn(Anchor& folder, const std::wstring& path) {
    if (!folder.exists() || launcherUserMay(folder.folder.get(), SecuredObject::FileOrFolder, WRITE_DAC))
        return false;
    folder.refusal = AnchorRefusal::NotTheLaunchersOwn;
    logRefusal(folder, path);
    return true;
}

bool refuseUnlessLaunchersKey(HKEY key, const std::wstring& path) {
    if (key == nullptr || launcherUserMay(key, SecuredObject::RegistryKey, WRITE_DAC)) return false;
    logText((L"Refused registry path: " + path + L": not the launcher's user's to change").c_str(),
            true);
    return true;
}

}  // namespace tendril
