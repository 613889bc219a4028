// The request record's fields as command-line options, and the checks that keep every text
// inside its wire field: Tendril relies on the launcher to end each field with a NUL within its
// size, so text that does not fit is refused, never cut.
#pragma once

#include <tendril/protocol.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace tendril::tool {

struct TextField {
    const char* option;  // "--install-folder"
    const char* help;
    std::size_t units;  // size of the wire field in UTF-16 units, terminating NUL included
    wchar_t* (*field)(AssistantRequest& record);
};

struct FlagField {
    const char* option;  // "--programs-shortcuts"
    const char* help;
    std::uint8_t AssistantRequest::*field;
};

std::span<const TextField> textFields();
std::span<const FlagField> flagFields();

// Size limits of an entry's text, in UTF-16 units without the terminating NUL.
constexpr std::size_t kEntryNameLimit = sizeof(RequestEntry::name) / sizeof(wchar_t) - 1;
constexpr std::size_t kEntryPathLimit = sizeof(RequestEntry::path) / sizeof(wchar_t) - 1;

// "<what> is N UTF-16 units long; its field holds at most <limit> (...)": why text is refused.
std::string tooLong(const std::string& what, std::size_t units, std::size_t limit);

// Stores UTF-8 text into a text field of the record, NUL-terminated and zero-filled to its end.
// Returns an empty string on success, otherwise why the text was refused (too long, not UTF-8);
// the record is not touched then.
std::string setTextField(AssistantRequest& record, const TextField& field, const std::string& utf8);

// The option's field, or nullptr ("--reg-path").
const TextField* textFieldByOption(const std::string& option);
// The text of a field, up to its NUL or its end.
std::wstring fieldText(AssistantRequest& record, const TextField& field);

// Parses "NAME=PATH" (split at the first '='; NAME must not be empty, PATH may be) into an entry
// that creates (create true) or deletes its shortcut. On failure returns nothing and sets error.
std::optional<RequestEntry> parseEntry(const std::string& text, bool create, std::string& error);

}  // namespace tendril::tool
