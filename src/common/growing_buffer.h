// Calls of the form "fill this buffer of n characters, return the length, or the size needed when
// it does not fit": the text, however long, or empty when the call fails.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tendril {

template <typename Call>
std::wstring callWithGrowingBuffer(Call call) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

}  // namespace tendril
