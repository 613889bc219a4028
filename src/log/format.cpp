#include "log/format.h"

#include <windows.h>

#include <cstdio>

namespace tendril {

int formatTruncatedV(wchar_t* buffer, std::size_t capacity, const wchar_t* format, va_list args) {
    if (capacity == 0) return -1;
    // _vsnwprintf_s with _TRUNCATE writes at most capacity - 1 characters and the NUL.
    return _vsnwprintf_s(buffer, capacity, _TRUNCATE, format, args);
}

}  // namespace tendril
