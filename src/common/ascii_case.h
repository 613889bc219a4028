// Comparison of paths and names without regard to the case of the letters A to Z. Every other
// UTF-16 unit must be equal, whatever the locale: the answer never depends on the machine's
// language settings.
#pragma once

#include <string>
#include <string_view>

namespace tendril {

constexpr wchar_t foldAsciiCase(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

inline bool equalIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldAsciiCase(a[i]) != foldAsciiCase(b[i])) return false;
    return true;
}

inline bool startsWithIgnoringAsciiCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() &&
           equalIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace tendril
