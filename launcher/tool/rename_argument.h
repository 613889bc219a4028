// The argument of set-long-name: Tendril reads the destination folder and the four old names from
// the request's argument, each between double quotes. tendril-launch takes them as five options
// and quotes them itself, so that nobody has to build the quotes by hand.
#pragma once

#include <tendril/protocol.h>

#include <array>
#include <cstddef>
#include <span>
#include <string>

namespace tendril::tool {

struct RenameOption {
    const char* option;  // "--old-long-name"
    const char* help;
    const char* defaultOption;  // "--long-name": the field whose text is sent when not given
};

// The five options, in the order their values stand in the argument.
std::span<const RenameOption> renameOptions();
constexpr std::size_t kRenameValueCount = 5;

// Size limit of the argument, in UTF-16 units without the terminating NUL.
constexpr std::size_t kArgumentLimit = sizeof(AssistantRequest::argument) / sizeof(wchar_t) - 1;

// One value and the option it came from, for the message when it is refused.
struct RenameValue {
    std::string option;
    std::wstring text;
};

// Writes "\"v1\" \"v2\" \"v3\" \"v4\" \"v5\"" into argument. Returns an empty string on success,
// otherwise why not (argument is not touched then): a value holding a double quote, which would
// end its value early on Tendril's side, or a result longer than the record's field.
std::string quoteRenameArgument(const std::array<RenameValue, kRenameValueCount>& values,
                                std::wstring& argument);

}  // namespace tendril::tool
