#include "commands.h"

#include <tendril/protocol.h>

namespace tendril::tool {

namespace {

constexpr CommandInfo kCommands[] = {
    {RefreshRegistration, "refresh", "RefreshRegistration",
     "Frees the install-directory slots of vanished installations, then registers the "
     "installation: folder, access rights for Users, install-directory record, the Windows "
     "Uninstall entry and the shortcuts. Reads --install-folder, --long-name, --icon-name, "
     "--reg-path, --help-link, --url-info-about, --url-update-info, --shortcut-folder, "
     "--exe-name, the three shortcut flags and the entries.",
     true, true, true},
    {InstallRuntimeUpdate, "runtime-update", "InstallRuntimeUpdate",
     "Gives the update package KB2999226.msu that lies beside the tendril.exe started to the "
     "system folder's wusa.exe, waits up to 10 minutes for it and deletes the package once it "
     "has ended. Errors: 15 the package is missing or cannot be started, 16 the wait "
     "failed or ran out (the package stays), 17 the update ended with a nonzero exit code. A "
     "--cancel-after that arrives before the wait leaves the update running and the package in "
     "place; a Cancel during the wait (Ctrl-C, --timeout) is not looked at: tendril-launch stops "
     "waiting after --grace while Tendril waits on for the update. An update can take minutes: "
     "give a --timeout above 600000 to see its result. Only "
     "the command code is sent: this command takes no request fields.",
     false, true, false},
    {UninstallClient, "uninstall", "UninstallClient",
     "Ends the client's processes (--argument: the full path of its executable), removes its "
     "shortcuts, its files, its install-directory record and its Uninstall entry; a progress bar "
     "follows the files as they are secured and deleted. Reads --install-folder, --long-name, "
     "--icon-name, --reg-path, --exe-name and --argument. The applications listed in the "
     "folder's applist.dat lose their shortcuts too.",
     true, true, false},
    {GrantUsersAccess, "grant-access", "GrantUsersAccess",
     "Gives the Users group full control over the --install-folder tree and the registry keys "
     "of --reg-path (below HKEY_LOCAL_MACHINE).",
     true, true, false},
    {ApplyShortcuts, "shortcuts", "ApplyShortcuts",
     "Creates (--entry) or deletes (--delete-entry) the installation's shortcuts in the "
     "all-users Start menu (--start-menu-shortcuts) and in its program group "
     "(--programs-shortcuts). Reads --install-folder, --long-name, --icon-name, --reg-path, the "
     "three shortcut flags and the entries.",
     true, true, true},
    {NoOperation, "noop", "NoOperation",
     "Does nothing: shows the handshake. Tendril sends no result message for it.", true, false,
     false},
    {TerminateProcesses, "terminate", "TerminateProcesses",
     "Ends every running process of the executable whose full path is --argument.", true, true,
     false},
    {SetLongName, "set-long-name", "SetLongName",
     "Moves an installation (--install-folder) to --new-install-folder and its registration "
     "from the old names (--old-short-name, --old-long-name, --old-reg-path, --old-icon-name) "
     "to the new ones (--short-name, --long-name, --reg-path, --icon-name), then registers it "
     "again as refresh does: give --exe-name, --shortcut-folder, the Uninstall entry's links, "
     "the shortcut flags and the entries as for refresh.",
     true, true, true},
    {Cancel, "cancel", "Cancel",
     "Sent as the command itself it does nothing and Tendril sends no result message; to cancel "
     "a running command, give that command --cancel-after.",
     true, false, false},
};

}  // namespace

std::span<const CommandInfo> allCommands() { return kCommands; }

const CommandInfo* commandByCode(std::int32_t code) {
    for (const CommandInfo& command : kCommands)
        if (command.code == code) return &command;
    return nullptr;
}

const char* commandName(std::int32_t code) {
    const CommandInfo* command = commandByCode(code);
    return command ? command->name : "unknown";
}

namespace {

constexpr const char* kShortcutsExample[] = {
    "shortcuts",
    "--install-folder",
    "C:\\Apps\\Demo",
    "--reg-path",
    "SOFTWARE\\Demo",
    "--long-name",
    "Demo Client",
    "--icon-name",
    "Demo",
    "--start-menu-shortcuts",
    "--programs-shortcuts",
    "--icon-shortcut",
    "--entry",
    "Demo=bin\\demo.exe",
    "--entry",
    "Demo Help=doc\\help.exe",
    "--delete-entry",
    "Demo Setup=setup.exe",
};

constexpr const char* kRenameExample[] = {
    "set-long-name",
    "--install-folder",
    "C:\\Apps\\Demo",
    "--new-install-folder",
    "C:\\Apps\\Demo Pro",
    "--short-name",
    "demo",
    "--long-name",
    "Demo Pro",
    "--old-long-name",
    "Demo Client",
    "--reg-path",
    "SOFTWARE\\DemoPro",
    "--old-reg-path",
    "SOFTWARE\\Demo",
    "--icon-name",
    "Demo",
    "--exe-name",
    "Launcher.exe",
    "--programs-shortcuts",
    "--entry",
    "Demo=Launcher.exe",
};

// An argument as it is typed: quoted when it holds a blank.
std::string typed(const char* argument) {
    const std::string text = argument;
    return text.find(' ') == std::string::npos ? text : "\"" + text + "\"";
}

}  // namespace

std::span<const char* const> shortcutsExample() { return kShortcutsExample; }
std::span<const char* const> renameExample() { return kRenameExample; }
const char kRenameExampleArgument[] =
    "\"C:\\Apps\\Demo Pro\" \"demo\" \"Demo Client\" \"SOFTWARE\\Demo\" \"Demo\"";

std::string renameHelp() {
    std::string example = "tendril-launch";
    for (const char* argument : kRenameExample) example += " " + typed(argument);
    return "Rename:\n"
           "  Tendril reads the destination and the old names from --argument, as five values "
           "between double\n"
           "  quotes: \"<new folder>\" \"<old short name>\" \"<old long name>\" \"<old reg "
           "path>\" \"<old icon name>\".\n"
           "  Give them as --new-install-folder, --old-short-name, --old-long-name, --old-reg-path "
           "and\n"
           "  --old-icon-name and tendril-launch quotes them; one not given is sent as the text of "
           "its new\n"
           "  counterpart (--install-folder, --short-name, ...): unchanged. A value cannot hold a "
           "double quote.\n"
           "  A raw --argument is sent as it is, but not together with those options; with "
           "neither, the\n"
           "  argument is empty and Tendril refuses the rename (error 1: no destination).\n"
           "  Example: C:\\Apps\\Demo moves to C:\\Apps\\Demo Pro, \"Demo Client\" becomes "
           "\"Demo Pro\" under a new\n"
           "  registry path (its old record and Uninstall entry go):\n"
           "    " +
           example +
           "\n"
           "  sends the argument " +
           kRenameExampleArgument + "\n\n";
}

std::string entriesHelp() {
    std::string example = "tendril-launch";
    for (const char* argument : kShortcutsExample) example += " " + typed(argument);
    return "Entries:\n"
           "  --entry NAME=PATH         an entry whose shortcut is created\n"
           "  --delete-entry NAME=PATH  an entry whose shortcut is deleted\n"
           "  Both may be repeated and mixed; they are sent in command-line order. NAME is the "
           "shortcut's\n"
           "  base name (a second installation's shortcuts get \" (2)\" added, and so on), PATH "
           "the program\n"
           "  relative to --install-folder. Quote an entry that holds blanks.\n"
           "  Example: \"Demo\" and \"Demo Help\" created in the all-users Start menu and in the "
           "group\n"
           "  \"Demo Client\" (with Demo's icon), the old \"Demo Setup\" shortcuts deleted:\n"
           "    " +
           example + "\n\n";
}

}  // namespace tendril::tool
