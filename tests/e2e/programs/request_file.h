// What the launchers among the test programs share: the request they write into the pipe comes
// from a file the test prepared.
#pragma once

#include <tendril_launcher/launcher.h>

#include <string>

namespace tendril::test_programs {

// The whole content of the file at path; empty when it cannot be read.
inline std::string readWholeFile(const std::wstring& path) {
    launch::Handle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    if (!file) return std::string();
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    return bytes;
}

}  // namespace tendril::test_programs
