// The commands tendril-launch can send: one sub-command per command code.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tendril::tool {

struct CommandInfo {
    std::int32_t code;
    const char* subcommand;   // "terminate"
    const char* name;         // "TerminateProcesses"
    const char* description;  // what Tendril does with it, for --help
    bool sendsRecord;         // the request record and its entries follow the code
    bool sendsResult;         // Tendril answers a completed run with a result message
    bool actsOnEntries;       // Tendril creates or deletes the shortcuts of the entries
};

// Every command, in code order (1 to 9).
std::span<const CommandInfo> allCommands();
// The command of a code, or nullptr.
const CommandInfo* commandByCode(std::int32_t code);
// "TerminateProcesses", or "unknown" for a code without a command.
const char* commandName(std::int32_t code);

// The arguments of the example in entriesHelp (without the program name): a shortcuts run with
// two entries that create and one that deletes.
std::span<const char* const> shortcutsExample();

// The arguments of the example in renameHelp: a set-long-name run with a new folder, a new long
// name and a new registry path, and the argument that it sends.
std::span<const char* const> renameExample();
extern const char kRenameExampleArgument[];

// The "Rename:" section of set-long-name's --help: the five values of the argument and the
// options that give them, with renameExample as a command line.
std::string renameHelp();

// The "Entries:" section of --help for the commands that act on entries: how to pass entries that
// create and entries that delete, with shortcutsExample as a command line.
std::string entriesHelp();

}  // namespace tendril::tool
