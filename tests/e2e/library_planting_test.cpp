// Nothing that unelevated code places beside tendril.exe is loaded into it: a library named like
// one Tendril uses, put where the launcher itself puts the update package, stays unloaded; and
// when the system's own copy of the profile service cannot be loaded, the guard that needs it
// refuses instead of deciding without it.
#include "common/system_library.h"
#include "common/unique_handle.h"
#include "e2e_support.h"
#include "support/system_programs.h"

#include <gtest/gtest.h>

namespace tendril::test {
namespace {

using launch::Request;
using launch::RunOptions;
using launch::RunResult;

RunResult grant(const TendrilCopy& tendril, const std::wstring& folder,
                const std::wstring& regPath) {
    Request request;
    request.command = GrantUsersAccess;
    Request::setText(request.record.installFolder, folder);
    Request::setText(request.record.regPath, regPath);
    RunOptions options;
    options.tendrilPath = tendril.path();
    options.timeoutMs = 60000;
    return launch::runCommand(options, request);
}

using Result = std::pair<std::int32_t, std::int32_t>;

// Wine, like Windows, takes a library that is not on the KnownDLLs list from the executable's
// folder first: a userenv.dll placed there was loaded by a Tendril that imported it (seen under
// Wine 8, its code run elevated).
TEST(LibraryPlanting, AUserenvBesideTendrilIsNotLoaded) {
    TendrilCopy tendril;
    const std::wstring planted = tendril.folder() / L"userenv.dll";
    ASSERT_TRUE(::CopyFileW(buildPath(E2E_PLANTED_LIBRARY).c_str(), planted.c_str(), FALSE));
    ScratchFolder install(L"client");
    ScratchRegistryKey key;

    // The grant asks the protected-locations guard, which asks the profile service.
    const RunResult run = grant(tendril, install.path(), key.path());
    ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
    EXPECT_EQ(*run.result, Result(GrantUsersAccess, NoError)) << tendril.log();
    EXPECT_FALSE(exists(planted + L".loaded")) << "the planted userenv.dll was loaded";
}

// The profiles folder comes from the system folder's userenv.dll alone; without it no profile
// can be told from an installation, and every folder is refused. The library is taken out of the
// prefix's system folder for this one run and put back afterwards.
TEST(LibraryPlanting, WithoutTheSystemsUserenvEveryFolderIsRefused) {
    TendrilCopy tendril;
    ScratchFolder install(L"client");
    ScratchRegistryKey key;
    RunResult run;
    {
        SystemFileSwap missing(L"userenv.dll", L"");
        ASSERT_TRUE(missing.ok()) << "cannot take userenv.dll out of the system folder";
        run = grant(tendril, install.path(), key.path());
    }
    ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
    EXPECT_EQ(*run.result, Result(GrantUsersAccess, AccessNotGranted));
    EXPECT_NE(tendril.log().find("Refused protected location: " + narrow(install.path()) + "\r\n"),
              std::string::npos)
        << tendril.log();
}

// What tendril.exe does first, tried in this test program: once the search is narrowed, a
// library looked for by name alone is no longer found beside the program, where it was found
// before; and a library of Windows is taken from the system folder. The narrowing stays for the
// rest of this process, which looks for nothing beside itself.
TEST(LibraryPlanting, TheNarrowedSearchFindsNothingBesideTheProgram) {
    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    const std::wstring folder(self, std::wstring(self).rfind(L'\\'));
    const std::wstring before = uniqueName(L"planted") + L".dll";
    const std::wstring after = uniqueName(L"planted") + L".dll";
    for (const std::wstring& name : {before, after})
        ASSERT_TRUE(::CopyFileW(buildPath(E2E_PLANTED_LIBRARY).c_str(),
                                (folder + L"\\" + name).c_str(), FALSE));

    UniqueModule found(::LoadLibraryW(before.c_str()));
    EXPECT_TRUE(found) << "the library beside the program was not found even before";
    found.reset();
    EXPECT_TRUE(restrictLibrarySearch());
    const UniqueModule missed(::LoadLibraryW(after.c_str()));
    const DWORD error = ::GetLastError();
    EXPECT_FALSE(missed) << "the library beside the program was found after the narrowing";
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    const UniqueModule notSystem(loadSystemLibrary(before.c_str()));
    EXPECT_FALSE(notSystem);

    const UniqueModule userenv(loadSystemLibrary(L"userenv.dll"));
    ASSERT_TRUE(userenv);
    wchar_t loaded[MAX_PATH] = {};
    ::GetModuleFileNameW(userenv.get(), loaded, MAX_PATH);
    EXPECT_EQ(_wcsicmp(loaded, (systemFolder() + L"\\userenv.dll").c_str()), 0) << narrow(loaded);

    for (const std::wstring& name : {before, after}) {
        ::DeleteFileW((folder + L"\\" + name).c_str());
        ::DeleteFileW((folder + L"\\" + name + L".loaded").c_str());
    }
}

}  // namespace
}  // namespace tendril::test
