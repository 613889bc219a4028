#include <tendril_launcher/launcher.h>

#include <shellapi.h>

namespace tendril::launch {

std::wstring windowArgument(HWND window) {
    const auto value = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(window));
    return std::to_wstring(value);
}

std::wstring fileNameOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

namespace {

std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

Handle startRunAs(const std::wstring& path, const std::wstring& parameters) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = path.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    if (!::ShellExecuteExW(&info)) return Handle();
    if (!info.hProcess) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return Handle();
    }
    return Handle(info.hProcess);
}

Handle startPlain(const std::wstring& path, const std::wstring& parameters, HANDLE token) {
    std::wstring commandLine = quoted(path);
    if (!parameters.empty()) commandLine += L" " + parameters;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const BOOL created =
        token ? ::CreateProcessAsUserW(token, path.c_str(), commandLine.data(), nullptr, nullptr,
                                       FALSE, 0, nullptr, nullptr, &startup, &info)
              : ::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                 nullptr, nullptr, &startup, &info);
    if (!created) return Handle();
    ::CloseHandle(info.hThread);
    return Handle(info.hProcess);
}

// A token of the current user in which Administrators is a deny-only group.
Handle restrictedToken() {
    HANDLE rawToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(),
                            TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, &rawToken))
        return Handle();
    Handle token(rawToken);
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
        return Handle();
    SID_AND_ATTRIBUTES disable{administrators, 0};
    HANDLE restricted = nullptr;
    const BOOL made = ::CreateRestrictedToken(token.get(), 0, 1, &disable, 0, nullptr, 0, nullptr,
                                              &restricted);
    ::FreeSid(administrators);
    return made ? Handle(restricted) : Handle();
}

}  // namespace

Handle startTendril(const std::wstring& tendrilPath, const std::wstring& parameters,
                    StartMethod method) {
    switch (method) {
        case StartMethod::RunAs:
            return startRunAs(tendrilPath, parameters);
        case StartMethod::CreateProcess:
            return startPlain(tendrilPath, parameters, nullptr);
        case StartMethod::RestrictedToken: {
            Handle token = restrictedToken();
            if (!token) return Handle();
            return startPlain(tendrilPath, parameters, token.get());
        }
    }
    return Handle();
}

RequestEntry Request::entry(const std::wstring& name, const std::wstring& path, bool create) {
    RequestEntry entry{};
    setText(entry.name, name);
    setText(entry.path, path);
    entry.create = create ? 1 : 0;
    return entry;
}

std::string Request::serialize() const {
    std::string bytes(reinterpret_cast<const char*>(&command), sizeof command);
    if (command == InstallRuntimeUpdate) return bytes;
    AssistantRequest copy = record;
    copy.entryCount = static_cast<std::int32_t>(entries.size());
    bytes.append(reinterpret_cast<const char*>(&copy), sizeof copy);
    for (const RequestEntry& entry : entries)
        bytes.append(reinterpret_cast<const char*>(&entry), sizeof entry);
    return bytes;
}

}  // namespace tendril::launch
