// Text fields of a request as the launcher library fills them.
#include <tendril_launcher/launcher.h>

#include <gtest/gtest.h>

#include <string>

namespace tendril::launch {
namespace {

std::wstring fieldText(const wchar_t* field, std::size_t units) {
    std::size_t n = 0;
    while (n < units && field[n] != L'\0') ++n;
    return std::wstring(field, n);
}

TEST(RequestText, FitsWithItsNulOrIsRefusedWhole) {
    AssistantRequest record{};
    constexpr std::size_t units = sizeof record.installFolder / sizeof(wchar_t);
    const std::wstring longest = L"C:\\" + std::wstring(units - 4, L'a');

    EXPECT_TRUE(Request::setText(record.installFolder, longest));
    EXPECT_EQ(fieldText(record.installFolder, units), longest);
    EXPECT_EQ(record.installFolder[units - 1], L'\0');

    // One unit more: nothing of it is sent, and nothing of the text that was there before.
    EXPECT_FALSE(Request::setText(record.installFolder, longest + L"b"));
    for (wchar_t unit : record.installFolder) ASSERT_EQ(unit, L'\0');

    // A shorter text leaves no trace of a longer one.
    ASSERT_TRUE(Request::setText(record.installFolder, longest));
    ASSERT_TRUE(Request::setText(record.installFolder, L"C:\\b"));
    for (std::size_t i = 4; i < units; ++i) ASSERT_EQ(record.installFolder[i], L'\0') << i;
}

TEST(RequestText, AnEntryWithAnOverlongPathGetsAnEmptyPath) {
    const RequestEntry fits = Request::entry(L"Client", L"bin\\client.exe", true);
    EXPECT_EQ(fieldText(fits.path, sizeof fits.path / sizeof(wchar_t)), L"bin\\client.exe");
    const RequestEntry refused =
        Request::entry(L"Client", std::wstring(sizeof fits.path / sizeof(wchar_t), L'p'), true);
    EXPECT_EQ(fieldText(refused.name, sizeof refused.name / sizeof(wchar_t)), L"Client");
    EXPECT_EQ(refused.path[0], L'\0');
}

}  // namespace
}  // namespace tendril::launch
