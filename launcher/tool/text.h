// UTF-8 for the command line and the console, UTF-16 for the wire and the Windows API.
#pragma once

#include <optional>
#include <string>

namespace tendril::tool {

// The UTF-16 text of UTF-8 bytes; nothing when they are not valid UTF-8.
std::optional<std::wstring> toWide(const std::string& utf8);
// The UTF-8 text of UTF-16 text (an unpaired surrogate becomes U+FFFD).
std::string toUtf8(const std::wstring& text);

}  // namespace tendril::tool
