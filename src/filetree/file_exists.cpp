#include "filetree/file_exists.h"

#include "common/unique_handle.h"

#include <windows.h>

namespace tendril {

bool fileExists(const std::wstring& path) {
    const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid();
}

}  // namespace tendril
