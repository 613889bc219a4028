// Formatting into the fixed 256-character buffers that log lines and names are built in. The text
// is always cut safely at the end of the buffer and always NUL-terminated.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cwchar>

namespace tendril {

constexpr std::size_t kLineBufferChars = 256;

// Formats like swprintf into buffer; too long a result is truncated, never overflowed.
// Use %ls for wide strings so the meaning does not depend on the C runtime's printf flavour.
int formatTruncatedV(wchar_t* buffer, std::size_t capacity, const wchar_t* format, va_list args);

template <std::size_t N>
int formatTruncated(wchar_t (&buffer)[N], const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const int written = formatTruncatedV(buffer, N, format, args);
    va_end(args);
    return written;
}

}  // namespace tendril
