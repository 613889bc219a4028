#include "request_fields.h"

#include "text.h"

#include <algorithm>
#include <type_traits>
#include <utility>

namespace tendril::tool {

namespace {

// A text field of the record by its member: the size comes from the member's array type.
template <auto Member>
TextField textField(const char* option, const char* help) {
    using Array = std::remove_reference_t<decltype(std::declval<AssistantRequest&>().*Member)>;
    return TextField{option, help, std::extent_v<Array>,
                     [](AssistantRequest& record) -> wchar_t* { return record.*Member; }};
}

const TextField kTextFields[] = {
    textField<&AssistantRequest::installFolder>(
        "--install-folder",
        "Full path of the client installation folder (commands 1, 3, 4, 5, 8)."),
    textField<&AssistantRequest::shortName>("--short-name",
                                            "The client's new short name (command 8)."),
    textField<&AssistantRequest::longName>(
        "--long-name",
        "The client's long (display) name, also its program-group folder name "
        "(commands 1, 3, 5, 8)."),
    textField<&AssistantRequest::iconName>(
        "--icon-name",
        "Name of the client's main shortcut; its target also gives the "
        "program-group folder icon (commands 1, 3, 5, 8)."),
    textField<&AssistantRequest::regPath>("--reg-path",
                                          "The client's registry key path below HKEY_LOCAL_MACHINE "
                                          "(commands 1, 3, 4, 5, 8)."),
    textField<&AssistantRequest::helpLink>(
        "--help-link", "HelpLink value of the Uninstall entry (commands 1, 8)."),
    textField<&AssistantRequest::urlInfoAbout>(
        "--url-info-about", "URLInfoAbout value of the Uninstall entry (commands 1, 8)."),
    textField<&AssistantRequest::urlUpdateInfo>(
        "--url-update-info", "URLUpdateInfo value of the Uninstall entry (commands 1, 8)."),
    textField<&AssistantRequest::shortcutFolder>(
        "--shortcut-folder",
        "Folder of the client shortcut whose path goes into the Uninstall "
        "entry's command line (commands 1, 8)."),
    textField<&AssistantRequest::exeName>(
        "--exe-name",
        "File name of the client executable inside the installation folder "
        "(commands 1, 3, 8)."),
    textField<&AssistantRequest::argument>(
        "--argument",
        "Commands 3 and 7: full path of the executable whose running processes are ended. "
        "Command 8: the destination folder and the old names as five double-quoted values; "
        "rather give them as --new-install-folder and the --old-* options."),
};

const FlagField kFlagFields[] = {
    {"--programs-shortcuts",
     "Entries get shortcuts in the all-users Programs folder below --long-name (commands 1, 5, "
     "8).",
     &AssistantRequest::programsShortcuts},
    {"--icon-shortcut",
     "The entry named --icon-name also sets the program-group folder icon (commands 1, 5, 8).",
     &AssistantRequest::iconShortcutFlag},
    {"--start-menu-shortcuts",
     "Entries get shortcuts in the root of the all-users Start menu (commands 1, 5, 8).",
     &AssistantRequest::startMenuShortcuts},
};

}  // namespace

std::string tooLong(const std::string& what, std::size_t units, std::size_t limit) {
    return what + " is " + std::to_string(units) + " UTF-16 units long; its field holds at most " +
           std::to_string(limit) + " (the terminating NUL takes the last place)";
}

std::span<const TextField> textFields() { return kTextFields; }
std::span<const FlagField> flagFields() { return kFlagFields; }

const TextField* textFieldByOption(const std::string& option) {
    for (const TextField& field : kTextFields)
        if (option == field.option) return &field;
    return nullptr;
}

std::wstring fieldText(AssistantRequest& record, const TextField& field) {
    const wchar_t* text = field.field(record);
    std::size_t length = 0;
    while (length < field.units && text[length] != L'\0') ++length;
    return std::wstring(text, length);
}

std::string setTextField(AssistantRequest& record, const TextField& field,
                         const std::string& utf8) {
    const std::optional<std::wstring> text = toWide(utf8);
    if (!text) return std::string(field.option) + " is not valid UTF-8 text";
    if (text->size() > field.units - 1) return tooLong(field.option, text->size(), field.units - 1);
    wchar_t* target = field.field(record);
    std::fill(target, target + field.units, L'\0');
    std::copy(text->begin(), text->end(), target);
    return std::string();
}

std::optional<RequestEntry> parseEntry(const std::string& text, bool create, std::string& error) {
    const char* option = create ? "--entry" : "--delete-entry";
    const std::string quoted = std::string(option) + " \"" + text + "\"";
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
        error = quoted + ": expected NAME=PATH";
        return std::nullopt;
    }
    if (equals == 0) {
        error = quoted + ": the shortcut NAME before '=' is empty";
        return std::nullopt;
    }
    const std::optional<std::wstring> name = toWide(text.substr(0, equals));
    const std::optional<std::wstring> path = toWide(text.substr(equals + 1));
    if (!name || !path) {
        error = quoted + ": not valid UTF-8 text";
        return std::nullopt;
    }
    if (name->size() > kEntryNameLimit) {
        error = tooLong(quoted + ": NAME", name->size(), kEntryNameLimit);
        return std::nullopt;
    }
    if (path->size() > kEntryPathLimit) {
        error = tooLong(quoted + ": PATH", path->size(), kEntryPathLimit);
        return std::nullopt;
    }
    RequestEntry entry{};
    std::copy(name->begin(), name->end(), entry.name);
    std::copy(path->begin(), path->end(), entry.path);
    entry.create = create ? 1 : 0;
    return entry;
}

}  // namespace tendril::tool
