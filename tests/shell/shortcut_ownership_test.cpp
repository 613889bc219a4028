// Which stored targets lie inside the folders of the installations a run acts for. The end-to-end
// tests of ApplyShortcuts show the rule on real shortcut files; here are the folder forms.
#include "shell/shortcut_ownership.h"

#include "support/shell_fixture.h"

#include <gtest/gtest.h>

namespace tendril::test {
namespace {

TEST(ShortcutOwnership, ATargetIsOwnedOnlyStrictlyInsideAnInstallationFolder) {
    const std::wstring target = L"C:\\Games\\Client\\bin\\app.exe";
    const struct {
        std::vector<std::wstring> folders;
        bool owned;
    } cases[] = {
        {{L"C:\\Games\\Client"}, true},
        {{L"C:\\Games\\Client\\bin"}, true},
        // The request's folder as a launcher may send it.
        {{L"C:\\Games\\Client\\"}, true},
        {{L"c:/games//CLIENT"}, true},
        // The rename: the old folder or the new one.
        {{L"C:\\Games\\New", L"C:\\Games\\Client"}, true},
        {{L"C:\\Games\\Cli"}, false},
        {{L"C:\\Games\\Client\\bin\\app.exe"}, false},
        {{L"C:\\Games\\Client\\..\\Client"}, false},
        // A root, or nothing absolute, is no installation folder.
        {{L"C:\\"}, false},
        {{L"C:"}, false},
        {{L"Games\\Client"}, false},
        {{L""}, false},
        {{}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folders.empty() ? std::string("no folder") : narrowPath(c.folders.back()));
        EXPECT_EQ(liesInsideOwner(target, c.folders), c.owned);
    }
    // A stored target that steps out of the folder again is not inside it.
    EXPECT_FALSE(liesInsideOwner(L"C:\\Games\\Client\\..\\Other\\app.exe", {L"C:\\Games\\Client"}));
    EXPECT_FALSE(liesInsideOwner(L"Client\\bin\\app.exe", {L"Client"}));
}

}  // namespace
}  // namespace tendril::test
