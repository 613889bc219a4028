// set-long-name's five values: quoted into the argument by the tool, split back by Tendril, and
// the values and combinations the tool refuses.
#include "rename_argument.h"
#include "command_line.h"
#include "commands.h"
#include "exit_status.h"

#include "commands/rename.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tendril::tool {
namespace {

using Args = std::vector<std::string>;

Args renameArgs(std::initializer_list<std::string> extra) {
    Args args = {"set-long-name", "--install-folder", "C:\\Apps\\Old", "--short-name",
                 "new",           "--long-name",      "New Client",    "--reg-path",
                 "SOFTWARE\\New", "--icon-name",      "NewIcon"};
    args.insert(args.end(), extra);
    return args;
}

TEST(RenameArgument, TheOptionsAreQuotedAndTheirDefaultsAreTheNewValues) {
    const struct {
        const char* what;
        Args args;
        std::wstring argument;
    } cases[] = {
        {"all five",
         renameArgs({"--new-install-folder", "C:\\Apps\\New Place", "--old-short-name", "old",
                     "--old-long-name", "Old Client", "--old-reg-path", "SOFTWARE\\Old",
                     "--old-icon-name", "OldIcon"}),
         L"\"C:\\Apps\\New Place\" \"old\" \"Old Client\" \"SOFTWARE\\Old\" \"OldIcon\""},
        {"one given, the rest unchanged", renameArgs({"--old-long-name", "Old Client"}),
         L"\"C:\\Apps\\Old\" \"new\" \"Old Client\" \"SOFTWARE\\New\" \"NewIcon\""},
        {"an empty value stays an empty pair", renameArgs({"--old-short-name", ""}),
         L"\"C:\\Apps\\Old\" \"\" \"New Client\" \"SOFTWARE\\New\" \"NewIcon\""},
        {"a raw argument is sent as it is", renameArgs({"--argument", "\"C:\\x\" \"a\""}),
         L"\"C:\\x\" \"a\""},
        {"neither: no argument", renameArgs({}), L""},
    };
    for (const auto& c : cases) {
        const ParsedCommandLine parsed = parseCommandLine(c.args);
        ASSERT_TRUE(parsed.run) << c.what << ": " << parsed.err;
        EXPECT_EQ(std::wstring(parsed.options.request.record.argument), c.argument) << c.what;
    }
}

// What the tool quotes is what Tendril splits: the values come back whole, blanks, a trailing
// backslash and non-ASCII text included.
TEST(RenameArgument, TendrilSplitsBackTheValuesTheToolQuoted) {
    const ParsedCommandLine parsed =
        parseCommandLine(renameArgs({"--new-install-folder",
                                     "C:\\Apps\\Gr\xC3\xBC\xC3\x9F"
                                     "e Welt",
                                     "--old-short-name", "a b", "--old-long-name", "Old\\",
                                     "--old-reg-path", "", "--old-icon-name", " "}));
    ASSERT_TRUE(parsed.run) << parsed.err;
    const std::array<std::wstring, 5> values =
        splitQuotedValues(parsed.options.request.record.argument);
    const std::array<std::wstring, 5> expected = {L"C:\\Apps\\Gr\u00FC\u00DFe Welt", L"a b",
                                                  L"Old\\", L"", L" "};
    EXPECT_EQ(values, expected);
}

TEST(RenameArgument, WhatCannotBeQuotedOrDoesNotFitIsRefused) {
    const std::string longest(kArgumentLimit - 4 - 10, 'x');  // four blanks, ten quotes
    const struct {
        const char* what;
        Args args;
        std::string error;  // empty: accepted
    } cases[] = {
        {"a quote in a value", renameArgs({"--old-long-name", "Old \"Client\""}),
         "--old-long-name holds a double quote (Old \"Client\"): the rename's values travel "
         "between double quotes in --argument, so none can hold one"},
        {"a quote in a default",
         {"set-long-name", "--install-folder", "C:\\x", "--icon-name", "a\"b", "--old-reg-path",
          "SOFTWARE\\Old"},
         "--icon-name, sent as --old-icon-name, holds a double quote (a\"b): the rename's values "
         "travel between double quotes in --argument, so none can hold one"},
        {"both ways at once", renameArgs({"--argument", "\"a\"", "--new-install-folder", "C:\\b"}),
         "--argument cannot be given together with --new-install-folder or the --old-* options: "
         "give the five values as options, or the whole --argument"},
        {"the longest argument", {"set-long-name", "--new-install-folder", longest}, ""},
        {"one unit more",
         {"set-long-name", "--new-install-folder", longest + "x"},
         "--argument quoted from --new-install-folder and the --old-* options is 517 UTF-16 "
         "units long; its field holds at most 516 (the terminating NUL takes the last place)"},
    };
    for (const auto& c : cases) {
        const ParsedCommandLine parsed = parseCommandLine(c.args);
        if (c.error.empty()) {
            ASSERT_TRUE(parsed.run) << c.what << ": " << parsed.err;
            EXPECT_EQ(parsed.options.request.record.argument[kArgumentLimit], L'\0');
            continue;
        }
        EXPECT_FALSE(parsed.run) << c.what;
        EXPECT_EQ(parsed.exitStatus, kExitUsage) << c.what;
        EXPECT_EQ(parsed.err, "tendril-launch: " + c.error + "\n") << c.what;
    }
    // Only the rename takes them.
    for (const char* subcommand : {"refresh", "uninstall", "shortcuts"}) {
        const ParsedCommandLine parsed =
            parseCommandLine({subcommand, "--old-long-name", "Old Client"});
        EXPECT_FALSE(parsed.run) << subcommand;
        EXPECT_EQ(parsed.exitStatus, kExitUsage) << subcommand;
    }
}

// The help of set-long-name shows an example, and the example sends the argument it names.
TEST(RenameArgument, TheHelpExampleSendsTheArgumentItShows) {
    const Args example(renameExample().begin(), renameExample().end());
    const ParsedCommandLine parsed = parseCommandLine(example);
    ASSERT_TRUE(parsed.run) << parsed.err;
    EXPECT_EQ(parsed.options.request.command, SetLongName);
    std::string argument;
    for (const wchar_t* unit = parsed.options.request.record.argument; *unit; ++unit)
        argument += static_cast<char>(*unit);
    EXPECT_EQ(argument, kRenameExampleArgument);

    const std::string help = parseCommandLine({"set-long-name", "--help"}).out;
    EXPECT_NE(help.find("tendril-launch set-long-name --install-folder C:\\Apps\\Demo "
                        "--new-install-folder \"C:\\Apps\\Demo Pro\""),
              std::string::npos)
        << help;
    EXPECT_NE(help.find(std::string("sends the argument ") + kRenameExampleArgument),
              std::string::npos)
        << help;
    for (const RenameOption& option : renameOptions())
        EXPECT_NE(help.find(std::string(option.option) + " "), std::string::npos) << option.option;
}

}  // namespace
}  // namespace tendril::tool
