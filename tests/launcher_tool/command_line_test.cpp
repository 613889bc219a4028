// The command line of tendril-launch: sub-commands, the request they build, and what is refused.
#include "command_line.h"
#include "commands.h"
#include "exit_status.h"
#include "request_fields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace tendril::tool {
namespace {

using Args = std::vector<std::string>;

ParsedCommandLine parse(const Args& args) { return parseCommandLine(args); }

TEST(CommandLine, EachSubcommandSendsItsCommandCode) {
    const struct {
        const char* subcommand;
        std::int32_t code;
    } cases[] = {{"refresh", 1},      {"runtime-update", 2}, {"uninstall", 3},
                 {"grant-access", 4}, {"shortcuts", 5},      {"noop", 6},
                 {"terminate", 7},    {"set-long-name", 8},  {"cancel", 9}};
    for (const auto& c : cases) {
        const ParsedCommandLine parsed = parse({c.subcommand});
        ASSERT_TRUE(parsed.run) << c.subcommand << ": " << parsed.err;
        EXPECT_EQ(parsed.options.request.command, c.code) << c.subcommand;
        // Nothing given: the record goes out zero-filled.
        const AssistantRequest zero{};
        EXPECT_EQ(std::memcmp(&parsed.options.request.record, &zero, sizeof zero), 0);
        EXPECT_TRUE(parsed.options.request.entries.empty());
    }
}

TEST(CommandLine, EveryTextOptionFillsExactlyItsOwnField) {
    const ParsedCommandLine parsed = parse({"set-long-name",
                                            "--install-folder",
                                            "C:\\Apps\\Demo",
                                            "--short-name",
                                            "demo",
                                            "--long-name",
                                            "Demo Client",
                                            "--icon-name",
                                            "Demo",
                                            "--reg-path",
                                            "SOFTWARE\\Demo",
                                            "--help-link",
                                            "https://h",
                                            "--url-info-about",
                                            "https://a",
                                            "--url-update-info",
                                            "https://u",
                                            "--shortcut-folder",
                                            "C:\\Links",
                                            "--exe-name",
                                            "demo.exe",
                                            "--argument",
                                            "\"Old\" \"Old Client\"",
                                            "--programs-shortcuts",
                                            "--icon-shortcut",
                                            "--start-menu-shortcuts"});
    ASSERT_TRUE(parsed.run) << parsed.err;

    // The same record written member by member: a field mixed up in the option table shows here.
    AssistantRequest expected{};
    auto put = [](wchar_t* field, const wchar_t* text) { std::wcscpy(field, text); };
    put(expected.installFolder, L"C:\\Apps\\Demo");
    put(expected.shortName, L"demo");
    put(expected.longName, L"Demo Client");
    put(expected.iconName, L"Demo");
    put(expected.regPath, L"SOFTWARE\\Demo");
    put(expected.helpLink, L"https://h");
    put(expected.urlInfoAbout, L"https://a");
    put(expected.urlUpdateInfo, L"https://u");
    put(expected.shortcutFolder, L"C:\\Links");
    put(expected.exeName, L"demo.exe");
    put(expected.argument, L"\"Old\" \"Old Client\"");
    expected.programsShortcuts = 1;
    expected.iconShortcutFlag = 1;
    expected.startMenuShortcuts = 1;
    EXPECT_EQ(std::memcmp(&parsed.options.request.record, &expected, sizeof expected), 0);
    EXPECT_EQ(parsed.options.request.command, SetLongName);
}

TEST(CommandLine, EachFlagSetsOnlyItsByte) {
    const struct {
        const char* option;
        std::size_t offset;
    } cases[] = {{"--programs-shortcuts", 5140},
                 {"--icon-shortcut", 5141},
                 {"--start-menu-shortcuts", 5142}};
    for (const auto& c : cases) {
        const ParsedCommandLine parsed = parse({"shortcuts", c.option});
        ASSERT_TRUE(parsed.run) << parsed.err;
        const auto* bytes = reinterpret_cast<const unsigned char*>(&parsed.options.request.record);
        for (std::size_t i = 5140; i < 5144; ++i)
            EXPECT_EQ(bytes[i], i == c.offset ? 1 : 0) << c.option << " byte " << i;
    }
}

TEST(CommandLine, EntriesKeepCommandLineOrderAndTheirCreateFlag) {
    const ParsedCommandLine parsed =
        parse({"shortcuts", "--entry", "App=bin\\app.exe", "--delete-entry", "Old=old.exe",
               "--entry=Tool=tools\\a=b.exe", "--delete-entry", "Gone="});
    ASSERT_TRUE(parsed.run) << parsed.err;
    const std::vector<RequestEntry>& entries = parsed.options.request.entries;
    ASSERT_EQ(entries.size(), 4u);
    const struct {
        const wchar_t* name;
        const wchar_t* path;
        std::uint8_t create;
    } expected[] = {{L"App", L"bin\\app.exe", 1},
                    {L"Old", L"old.exe", 0},
                    {L"Tool", L"tools\\a=b.exe", 1},
                    {L"Gone", L"", 0}};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        RequestEntry want{};
        std::wcscpy(want.name, expected[i].name);
        std::wcscpy(want.path, expected[i].path);
        want.create = expected[i].create;
        EXPECT_EQ(std::memcmp(&entries[i], &want, sizeof want), 0) << "entry " << i;
    }
    // The serialized request carries the count in the record.
    const std::string bytes = parsed.options.request.serialize();
    ASSERT_EQ(bytes.size(), 4 + sizeof(AssistantRequest) + 4 * sizeof(RequestEntry));
    std::int32_t count = 0;
    std::memcpy(&count, bytes.data() + 4 + 5144, 4);
    EXPECT_EQ(count, 4);
}

TEST(CommandLine, RunOptionsAndTheirDefaults) {
    const ParsedCommandLine defaults = parse({"noop"});
    ASSERT_TRUE(defaults.run);
    EXPECT_EQ(defaults.options.tendrilPath, L"");
    EXPECT_EQ(defaults.options.method, launch::StartMethod::RunAs);
    EXPECT_EQ(defaults.options.cancelAfterMs, -1);
    EXPECT_EQ(defaults.options.timeoutMs, 120000u);
    EXPECT_FALSE(defaults.options.json);

    const ParsedCommandLine given =
        parse({"runtime-update", "--tendril", "D:\\x\\helper.exe", "--start", "create",
               "--cancel-after", "250", "--timeout", "5000", "--json"});
    ASSERT_TRUE(given.run) << given.err;
    EXPECT_EQ(given.options.tendrilPath, L"D:\\x\\helper.exe");
    EXPECT_EQ(given.options.method, launch::StartMethod::CreateProcess);
    EXPECT_EQ(given.options.cancelAfterMs, 250);
    EXPECT_EQ(given.options.timeoutMs, 5000u);
    EXPECT_TRUE(given.options.json);
    EXPECT_EQ(given.options.request.serialize(), std::string("\x02\0\0\0", 4));

    EXPECT_EQ(parse({"noop", "--start", "restricted"}).options.method,
              launch::StartMethod::RestrictedToken);
}

TEST(CommandLine, NonAsciiTextArrivesAsUtf16) {
    // "Grüße 😀": the emoji is a surrogate pair on the wire.
    const ParsedCommandLine parsed = parse({"refresh", "--long-name",
                                            "Gr\xC3\xBC\xC3\x9F"
                                            "e \xF0\x9F\x98\x80"});
    ASSERT_TRUE(parsed.run) << parsed.err;
    EXPECT_EQ(std::wstring(parsed.options.request.record.longName),
              std::wstring(L"Gr\u00FC\u00DFe \xD83D\xDE00"));
}

TEST(CommandLine, TextThatDoesNotFitItsFieldIsRefusedNotCut) {
    const struct {
        const char* option;
        std::size_t limit;
    } cases[] = {{"--install-folder", 260}, {"--short-name", 32},       {"--long-name", 64},
                 {"--icon-name", 64},       {"--reg-path", 260},        {"--help-link", 260},
                 {"--url-info-about", 260}, {"--url-update-info", 260}, {"--shortcut-folder", 260},
                 {"--exe-name", 64},        {"--argument", 516}};
    for (const auto& c : cases) {
        const ParsedCommandLine fits = parse({"refresh", c.option, std::string(c.limit, 'x')});
        ASSERT_TRUE(fits.run) << c.option << ": " << fits.err;

        const ParsedCommandLine tooLong =
            parse({"refresh", c.option, std::string(c.limit + 1, 'x')});
        EXPECT_FALSE(tooLong.run) << c.option;
        EXPECT_EQ(tooLong.exitStatus, kExitUsage);
        EXPECT_EQ(tooLong.err,
                  "tendril-launch: " + std::string(c.option) + " is " +
                      std::to_string(c.limit + 1) + " UTF-16 units long; its field holds at most " +
                      std::to_string(c.limit) + " (the terminating NUL takes the last place)\n");

        // A surrogate pair counts two units: limit - 1 letters and one emoji do not fit.
        const ParsedCommandLine pair =
            parse({"refresh", c.option, std::string(c.limit - 1, 'x') + "\xF0\x9F\x98\x80"});
        EXPECT_FALSE(pair.run) << c.option;
    }
    // The longest text that fits keeps its NUL in the field's last unit.
    const ParsedCommandLine full = parse({"refresh", "--exe-name", std::string(64, 'e')});
    ASSERT_TRUE(full.run);
    EXPECT_EQ(full.options.request.record.exeName[63], L'e');
    EXPECT_EQ(full.options.request.record.exeName[64], L'\0');
}

TEST(CommandLine, EntryTextIsCheckedAndSplitAtTheFirstEquals) {
    const struct {
        std::string text;
        bool ok;
        std::string error;
    } cases[] = {
        {"App=app.exe", true, ""},
        {"App=", true, ""},
        {"A=b=c", true, ""},
        {"App", false, "--entry \"App\": expected NAME=PATH"},
        {"=app.exe", false, "--entry \"=app.exe\": the shortcut NAME before '=' is empty"},
        {std::string(64, 'n') + "=p", true, ""},
        {std::string(65, 'n') + "=p", false,
         "--entry \"" + std::string(65, 'n') +
             "=p\": NAME is 65 UTF-16 units long; its field holds at most 64 (the terminating "
             "NUL takes the last place)"},
        {"n=" + std::string(260, 'p'), true, ""},
        {"n=" + std::string(261, 'p'), false,
         "--entry \"n=" + std::string(261, 'p') +
             "\": PATH is 261 UTF-16 units long; its field holds at most 260 (the terminating "
             "NUL takes the last place)"},
    };
    for (const auto& c : cases) {
        std::string error;
        const std::optional<RequestEntry> entry = parseEntry(c.text, true, error);
        EXPECT_EQ(entry.has_value(), c.ok) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
    std::string error;
    const std::optional<RequestEntry> split = parseEntry("A=b=c", false, error);
    ASSERT_TRUE(split);
    EXPECT_EQ(std::wstring(split->name), L"A");
    EXPECT_EQ(std::wstring(split->path), L"b=c");
    EXPECT_EQ(split->create, 0);

    // Through the command line the refusal ends the run before anything starts.
    const ParsedCommandLine parsed = parse({"shortcuts", "--delete-entry", "nothing"});
    EXPECT_FALSE(parsed.run);
    EXPECT_EQ(parsed.exitStatus, kExitUsage);
    EXPECT_EQ(parsed.err, "tendril-launch: --delete-entry \"nothing\": expected NAME=PATH\n");
}

TEST(CommandLine, MalformedCommandLinesAreUsageErrors) {
    const Args cases[] = {
        {},
        {"bogus"},
        {"noop", "--bogus"},
        {"noop", "--start", "sudo"},
        {"noop", "--timeout", "0"},
        {"noop", "--cancel-after", "-5"},
        {"noop", "extra"},
        {"runtime-update", "--install-folder", "C:\\x"},  // no record is sent for it
        {"noop", "terminate"},
    };
    for (const Args& args : cases) {
        const ParsedCommandLine parsed = parse(args);
        std::string joined;
        for (const std::string& a : args) joined += a + " ";
        EXPECT_FALSE(parsed.run) << joined;
        EXPECT_EQ(parsed.exitStatus, kExitUsage) << joined;
        EXPECT_FALSE(parsed.err.empty()) << joined;
    }
}

TEST(CommandLine, HelpOnEveryLevelDocumentsEveryOptionAndTheExitStatuses) {
    const ParsedCommandLine top = parse({"--help"});
    EXPECT_FALSE(top.run);
    EXPECT_EQ(top.exitStatus, 0);
    for (const char* name : {"refresh", "runtime-update", "uninstall", "grant-access", "shortcuts",
                             "noop", "terminate", "set-long-name", "cancel", "Exit status:", "107"})
        EXPECT_NE(top.out.find(name), std::string::npos) << name;

    const char* runOptions[] = {"--tendril", "--start", "--cancel-after",
                                "--timeout", "--json",  "--help"};
    for (const char* subcommand : {"refresh", "uninstall", "grant-access", "shortcuts", "noop",
                                   "terminate", "set-long-name", "cancel", "runtime-update"}) {
        const ParsedCommandLine help = parse({subcommand, "--help"});
        EXPECT_FALSE(help.run);
        EXPECT_EQ(help.exitStatus, 0);
        EXPECT_NE(help.out.find("Exit status:"), std::string::npos) << subcommand;
        for (const char* option : runOptions)
            EXPECT_NE(help.out.find(option), std::string::npos) << subcommand << " " << option;
        const bool record = std::string(subcommand) != "runtime-update";
        std::vector<std::string> fieldOptions = {"--entry", "--delete-entry"};
        for (const TextField& f : textFields()) fieldOptions.push_back(f.option);
        for (const FlagField& f : flagFields()) fieldOptions.push_back(f.option);
        for (const std::string& option : fieldOptions) {
            const bool listed = help.out.find(option + " ") != std::string::npos;
            EXPECT_EQ(listed, record) << subcommand << " " << option;
        }
    }
}

// The help of the commands that act on entries shows an example, and the example works.
TEST(CommandLine, TheEntriesExampleOfTheHelpParsesToCreatingAndDeletingEntries) {
    const Args example(shortcutsExample().begin(), shortcutsExample().end());
    const ParsedCommandLine parsed = parse(example);
    ASSERT_TRUE(parsed.run) << parsed.err;
    EXPECT_EQ(parsed.options.request.command, 5);
    const std::vector<RequestEntry>& entries = parsed.options.request.entries;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(std::wstring(entries[0].name), L"Demo");
    EXPECT_EQ(entries[0].create, 1);
    EXPECT_EQ(std::wstring(entries[1].name), L"Demo Help");
    EXPECT_EQ(entries[1].create, 1);
    EXPECT_EQ(std::wstring(entries[2].name), L"Demo Setup");
    EXPECT_EQ(std::wstring(entries[2].path), L"setup.exe");
    EXPECT_EQ(entries[2].create, 0);
    EXPECT_EQ(parsed.options.request.record.startMenuShortcuts, 1);
    EXPECT_EQ(parsed.options.request.record.programsShortcuts, 1);

    for (const char* subcommand : {"shortcuts", "refresh", "set-long-name"}) {
        const std::string help = parse({subcommand, "--help"}).out;
        EXPECT_NE(help.find("Entries:"), std::string::npos) << subcommand;
        EXPECT_NE(help.find("tendril-launch shortcuts --install-folder C:\\Apps\\Demo"),
                  std::string::npos)
            << help;
        EXPECT_NE(help.find("--entry \"Demo Help=doc\\help.exe\" --delete-entry \"Demo "
                            "Setup=setup.exe\""),
                  std::string::npos)
            << help;
    }
    for (const char* subcommand : {"grant-access", "uninstall", "terminate", "noop"})
        EXPECT_EQ(parse({subcommand, "--help"}).out.find("Entries:"), std::string::npos)
            << subcommand;
}

}  // namespace
}  // namespace tendril::tool
