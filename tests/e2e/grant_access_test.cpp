// GrantUsersAccess from end to end: the folder is checked, the tree secured, and the client's
// registry key and its "Install" key created if needed and given to the Users group.
#include "e2e_support.h"

#include <gtest/gtest.h>
#include <sddl.h>

namespace tendril::test {
namespace {

using launch::Request;
using launch::RunOptions;
using launch::RunResult;

// Full control for Administrators, Users and SYSTEM, read for Everyone, all inherited by files
// and folders beneath.
constexpr wchar_t kUsersDacl[] =
    L"D:(A;OICI;GA;;;BA)(A;OICI;GA;;;BU)(A;OICI;GA;;;SY)(A;OICI;CC;;;WD)";

std::wstring keyDacl(const std::wstring& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL, &key) != ERROR_SUCCESS)
        return L"<no key>";
    DWORD size = 0;
    ::RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<unsigned char> buffer(size);
    std::wstring text = L"<unreadable>";
    if (size != 0 && ::RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer.data(), &size) ==
                         ERROR_SUCCESS) {
        wchar_t* sddl = nullptr;
        if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(
                buffer.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
            text = sddl;
            ::LocalFree(sddl);
        }
    }
    ::RegCloseKey(key);
    return text;
}

RunResult grant(const TendrilCopy& tendril, const std::wstring& folder, const std::wstring& regPath) {
    Request request;
    request.command = GrantUsersAccess;
    Request::setText(request.record.installFolder, folder);
    Request::setText(request.record.regPath, regPath);
    RunOptions options;
    options.tendrilPath = tendril.path();
    return launch::runCommand(options, request);
}

TEST(GrantUsersAccess, MissingFolderOrAFileIsFolderNotFoundAndTouchesNoKey) {
    TendrilCopy tendril;
    ASSERT_TRUE(writeFile(tendril.folder() / L"file.txt", "x"));
    for (const std::wstring& folder : {tendril.folder() / L"missing", tendril.folder() / L"file.txt"}) {
        SCOPED_TRACE(narrow(folder));
        ScratchRegistryKey key;
        const RunResult run = grant(tendril, folder, key.path());
        ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
        EXPECT_EQ(*run.result, std::make_pair(static_cast<std::int32_t>(GrantUsersAccess),
                                              static_cast<std::int32_t>(FolderNotFound)));
        EXPECT_EQ(keyDacl(key.path()), L"<no key>");
        EXPECT_NE(tendril.log().find("setLastAssistantError: error = 9, lastError = "),
                  std::string::npos)
            << tendril.log();
    }
}

TEST(GrantUsersAccess, AFolderGetsItsKeysCreatedAndGivenToUsers) {
    TendrilCopy tendril;
    ScratchFolder install(L"grant");
    ASSERT_TRUE(::CreateDirectoryW((install / L"bin").c_str(), nullptr));
    ASSERT_TRUE(writeFile(install / L"bin\\client.exe", "MZ"));
    ScratchRegistryKey key;
    const RunResult run = grant(tendril, install.path(), key.path());
    ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
    EXPECT_EQ(*run.result, std::make_pair(static_cast<std::int32_t>(GrantUsersAccess), 0));
    // No progress: command 4 secures the tree without reporting it.
    EXPECT_EQ(messagesOf(run.messages, WM_ASSISTANT_STATUS).size(), 1u) << describe(run.messages);
    EXPECT_EQ(keyDacl(key.path()), kUsersDacl);
    EXPECT_EQ(keyDacl(key.path() + L"\\Install"), kUsersDacl);
    EXPECT_TRUE(exists(install / L"bin\\client.exe")) << "the grant changes rights, not files";
}

}  // namespace
}  // namespace tendril::test
