#include "filetree/path_guard.h"

#include <gtest/gtest.h>

namespace tendril {
namespace {

TEST(PathGuard, AcceptsOnlyAbsolutePathsBelowARoot) {
    const struct {
        const wchar_t* path;
        bool walkable;
    } cases[] = {
        {L"C:\\q", true},
        {L"c:\\Program Files\\Client", true},
        {L"C:\\a\\b.c\\..d\\e..f", true},
        {L"\\\\server\\share\\folder", true},
        {L"\\\\server\\share\\a\\b", true},
        // Too short, empty, or a root.
        {L"", false},
        {L"C:\\", false},
        {L"C:", false},
        {L"abc", false},
        {L"\\\\server\\share", false},
        {L"\\\\server\\share\\", false},
        // Relative in one way or another.
        {L"abcd", false},
        {L"C:abcd", false},
        {L"\\abcd", false},
        {L".\\abcd", false},
        {L"C:/abcd", false},
        {L"1:\\abcd", false},
        // Components that resolve upwards or to nothing.
        {L"C:\\a\\..", false},
        {L"C:\\a\\..\\..\\Windows", false},
        {L"C:\\.", false},
        {L"C:\\...", false},
        {L"C:\\ .", false},
        {L"C:\\a\\ ", false},
        {L"C:\\a/..", false},
        {L"C:\\\\", false},
        {L"C:\\a\\\\b", false},
        {L"C:\\a\\", false},
        {L"\\\\server\\share\\..", false},
        {L"\\\\..\\share\\x", false},
        {L"\\\\server\\.\\x", false},
        {L"\\\\\\share\\x", false},
        {L"\\\\ser/ver\\share\\x", false},
        // Device paths and wildcards.
        {L"\\\\?\\C:\\abcd", false},
        {L"\\\\.\\C:\\abcd", false},
        {L"C:\\a*", false},
        {L"C:\\a?c", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isWalkablePath(c.path), c.walkable) << "path \"" << c.path << "\"";
}

TEST(PathGuard, PlainNamesStayInsideTheirFolder) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"Play", true},   {L"client.exe", true},  {L"Play (2)", true}, {L".x", true},
        {L"", false},      {L".", false},          {L"..", false},      {L"...", false},
        {L". .", false},   {L"..\\x", false},      {L"a/b", false},     {L"C:x", false},
        {L"sub\\", false}, {L"\\\\server", false},
    };
    for (const auto& [name, plain] : cases)
        EXPECT_EQ(isPlainName(name), plain) << "name \"" << name << "\"";
}

}  // namespace
}  // namespace tendril
