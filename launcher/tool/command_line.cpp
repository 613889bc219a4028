#include "command_line.h"

#include "commands.h"
#include "exit_status.h"
#include "rename_argument.h"
#include "request_fields.h"
#include "text.h"

#include <CLI/CLI.hpp>
#include <tendril_version.h>

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <sstream>

namespace tendril::tool {

namespace {

constexpr char kProgramName[] = "tendril-launch";

// Where CLI11 puts what it parses; one set serves every sub-command, as only one is chosen.
struct Values {
    std::vector<std::string> texts = std::vector<std::string>(textFields().size());
    std::deque<bool> flags = std::deque<bool>(flagFields().size());
    std::vector<std::string> createEntries;
    std::vector<std::string> deleteEntries;
    std::vector<std::string> renameTexts = std::vector<std::string>(kRenameValueCount);
    std::string tendril;
    std::string start = "runas";
    int cancelAfterMs = -1;
    DWORD timeoutMs = kDefaultTimeoutMs;
    DWORD graceMs = kDefaultGraceMs;
    bool json = false;
};

const std::map<std::string, launch::StartMethod> kStartMethods = {
    {"runas", launch::StartMethod::RunAs},
    {"create", launch::StartMethod::CreateProcess},
    {"restricted", launch::StartMethod::RestrictedToken},
};

void addRunOptions(CLI::App& command, Values& values) {
    command
        .add_option("--tendril", values.tendril,
                    "Path of tendril.exe to start (default: tendril.exe beside "
                    "tendril-launch.exe). Its file name names the pipe.")
        ->type_name("PATH");
    command
        .add_option("--start", values.start,
                    "How Tendril is started: runas (ShellExecuteExW with the runas verb, as a "
                    "launcher does), create (plain CreateProcessW) or restricted (a token "
                    "with Administrators disabled: shows the not-elevated answer).")
        ->check(CLI::IsMember({"runas", "create", "restricted"}))
        ->capture_default_str();
    command
        .add_option("--cancel-after", values.cancelAfterMs,
                    "Write Cancel (9) into the pipe this many ms after the request, if "
                    "Tendril is still running.")
        ->type_name("MS")
        ->check(CLI::NonNegativeNumber);
    command
        .add_option("--timeout", values.timeoutMs,
                    "When Tendril has not ended after this many ms, write Cancel and give it "
                    "--grace more to send its result (exit status 107). Ctrl-C, Ctrl-Break and "
                    "closing the console cancel the same way (exit status 108).")
        ->type_name("MS")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    command
        .add_option("--grace", values.graceMs,
                    "After Cancel (--timeout, Ctrl-C), wait this many ms for Tendril's result "
                    "and its end. Tendril runs elevated: it cannot be ended from here.")
        ->type_name("MS")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    command.add_flag("--json", values.json,
                     "Print one JSON object per line: {\"type\":\"message\",...} for every "
                     "message, then {\"type\":\"end\",...,\"schema_version\":1}. Keys are "
                     "snake_case; what goes wrong is also told on standard error.");
}

void addRecordOptions(CLI::App& command, Values& values) {
    const auto texts = textFields();
    for (std::size_t i = 0; i < texts.size(); ++i)
        command.add_option(texts[i].option, values.texts[i],
                           std::string(texts[i].help) + " At most " +
                               std::to_string(texts[i].units - 1) + " UTF-16 units.");
    const auto flags = flagFields();
    for (std::size_t i = 0; i < flags.size(); ++i)
        command.add_flag(flags[i].option, values.flags[i], flags[i].help);
    const std::string limits = " NAME: the shortcut's base name, at most " +
                               std::to_string(kEntryNameLimit) +
                               " UTF-16 units; PATH: its target relative to --install-folder, "
                               "at most " +
                               std::to_string(kEntryPathLimit) +
                               ". Repeat for more entries; they are sent in command-line order.";
    command
        .add_option("--entry", values.createEntries, "An entry whose shortcut is created." + limits)
        ->type_name("NAME=PATH")
        ->allow_extra_args(false);
    command
        .add_option("--delete-entry", values.deleteEntries,
                    "An entry whose shortcut is deleted." + limits)
        ->type_name("NAME=PATH")
        ->allow_extra_args(false);
}

void addRenameOptions(CLI::App& command, Values& values) {
    const auto options = renameOptions();
    for (std::size_t i = 0; i < options.size(); ++i)
        command.add_option(options[i].option, values.renameTexts[i], options[i].help)
            ->type_name(i == 0 ? "PATH" : "TEXT");
}

// Quotes the rename options into the argument field, when any of them is given: a value not given
// is the text of its counterpart field, unchanged by the rename. Returns why not, or "".
std::string applyRenameOptions(const CLI::App& command, const Values& values,
                               AssistantRequest& record) {
    const auto options = renameOptions();
    bool anyGiven = false;
    for (const RenameOption& option : options) anyGiven |= command.count(option.option) > 0;
    if (!anyGiven) return std::string();
    if (command.count("--argument") > 0)
        return "--argument cannot be given together with --new-install-folder or the --old-* "
               "options: give the five values as options, or the whole --argument";

    std::array<RenameValue, kRenameValueCount> quoted;
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (command.count(options[i].option) > 0) {
            const std::optional<std::wstring> text = toWide(values.renameTexts[i]);
            if (!text) return std::string(options[i].option) + " is not valid UTF-8 text";
            quoted[i] = {options[i].option, *text};
        } else {
            const TextField* counterpart = textFieldByOption(options[i].defaultOption);
            if (!counterpart) return std::string("no field for ") + options[i].defaultOption;
            quoted[i] = {
                std::string(options[i].defaultOption) + ", sent as " + options[i].option + ",",
                fieldText(record, *counterpart)};
        }
    }
    std::wstring argument;
    const std::string error = quoteRenameArgument(quoted, argument);
    if (!error.empty()) return error;
    const TextField* field = textFieldByOption("--argument");
    if (!field) return "no field for --argument";
    return setTextField(record, *field, toUtf8(argument));
}

// The entries in the order they were given, --entry and --delete-entry mixed.
bool collectEntries(const CLI::App& command, const Values& values,
                    std::vector<RequestEntry>& entries, std::string& error) {
    const CLI::Option* create = command.get_option_no_throw("--entry");
    const CLI::Option* remove = command.get_option_no_throw("--delete-entry");
    std::size_t nextCreate = 0;
    std::size_t nextDelete = 0;
    for (const CLI::Option* option : command.parse_order()) {
        const bool isCreate = option == create;
        if (!isCreate && option != remove) continue;
        const std::vector<std::string>& list =
            isCreate ? values.createEntries : values.deleteEntries;
        std::size_t& next = isCreate ? nextCreate : nextDelete;
        if (next >= list.size()) continue;
        std::optional<RequestEntry> entry = parseEntry(list[next++], isCreate, error);
        if (!entry) return false;
        entries.push_back(*entry);
    }
    // Every value is in the parse order; should one not be, it is still sent, after the others.
    for (; nextCreate < values.createEntries.size(); ++nextCreate) {
        std::optional<RequestEntry> entry =
            parseEntry(values.createEntries[nextCreate], true, error);
        if (!entry) return false;
        entries.push_back(*entry);
    }
    for (; nextDelete < values.deleteEntries.size(); ++nextDelete) {
        std::optional<RequestEntry> entry =
            parseEntry(values.deleteEntries[nextDelete], false, error);
        if (!entry) return false;
        entries.push_back(*entry);
    }
    return true;
}

ParsedCommandLine refused(const std::string& error) {
    ParsedCommandLine parsed;
    parsed.exitStatus = kExitUsage;
    parsed.err = std::string(kProgramName) + ": " + error + "\n";
    return parsed;
}

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    ParsedCommandLine parsed;
    try {
        Values values;
        CLI::App app(
            "Starts tendril.exe as a launcher does, sends it one command and shows its "
            "messages: the handshake, progress and the result. Every command takes "
            "--tendril, --start, --cancel-after, --timeout, --grace, --json and --help; see "
            "'tendril-launch COMMAND --help'.",
            kProgramName);
        app.set_version_flag("--version", std::string(kProgramName) + " " +
                                              TENDRIL_VERSION_STRING);
        app.require_subcommand(1);
        app.footer(exitStatusHelp());
        for (const CommandInfo& info : allCommands()) {
            CLI::App* command =
                app.add_subcommand(info.subcommand, "(" + std::to_string(info.code) + ", " +
                                                        info.name + ") " + info.description);
            addRunOptions(*command, values);
            if (info.sendsRecord) addRecordOptions(*command, values);
            if (info.code == SetLongName) addRenameOptions(*command, values);
            command->footer((info.code == SetLongName ? renameHelp() : std::string()) +
                            (info.actsOnEntries ? entriesHelp() : std::string()) +
                            exitStatusHelp());
        }

        std::vector<const char*> argv{kProgramName};
        for (const std::string& argument : arguments) argv.push_back(argument.c_str());
        try {
            app.parse(static_cast<int>(argv.size()), argv.data());
        } catch (const CLI::ParseError& e) {
            std::ostringstream out;
            std::ostringstream err;
            const int code = app.exit(e, out, err);
            parsed.out = out.str();
            parsed.err = err.str();
            parsed.exitStatus = code == 0 ? 0 : kExitUsage;
            return parsed;
        }

        const CLI::App* command = app.get_subcommands().at(0);
        const CommandInfo* info = nullptr;
        for (const CommandInfo& candidate : allCommands())
            if (command->get_name() == candidate.subcommand) info = &candidate;
        if (!info) return refused("unknown command " + command->get_name());

        ToolOptions& options = parsed.options;
        options.request.command = info->code;
        const auto texts = textFields();
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const std::string error =
                setTextField(options.request.record, texts[i], values.texts[i]);
            if (!error.empty()) return refused(error);
        }
        const auto flags = flagFields();
        for (std::size_t i = 0; i < flags.size(); ++i)
            options.request.record.*(flags[i].field) = values.flags[i] ? 1 : 0;
        if (info->code == SetLongName) {
            const std::string error = applyRenameOptions(*command, values, options.request.record);
            if (!error.empty()) return refused(error);
        }
        std::string error;
        if (!collectEntries(*command, values, options.request.entries, error))
            return refused(error);

        const std::optional<std::wstring> tendril = toWide(values.tendril);
        if (!tendril) return refused("--tendril is not valid UTF-8 text");
        options.tendrilPath = *tendril;
        options.method = kStartMethods.at(values.start);
        options.cancelAfterMs = values.cancelAfterMs;
        options.timeoutMs = values.timeoutMs;
        options.graceMs = values.graceMs;
        options.json = values.json;
        parsed.run = true;
        return parsed;
    } catch (const std::exception& e) {
        return refused(std::string("the command line cannot be read: ") + e.what());
    }
}

}  // namespace tendril::tool
