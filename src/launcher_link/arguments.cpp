#include "launcher_link/arguments.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace tendril {

std::int32_t parseDecimalArgument(const wchar_t* argument) {
    if (argument == nullptr) return 0;
    std::string utf8;
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, argument, -1, nullptr, 0, nullptr, nullptr);
    if (needed > 0) {
        utf8.resize(static_cast<std::size_t>(needed));
        ::WideCharToMultiByte(CP_UTF8, 0, argument, -1, utf8.data(), needed, nullptr, nullptr);
    }
    const char* p = utf8.c_str();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    std::int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<std::int64_t>(INT32_MAX) + 1) break;  // saturates below
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

}  // namespace tendril
