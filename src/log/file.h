// CFile: owner of the log's Windows file handle.
#pragma once

#include <windows.h>

namespace tendril {

class CFile {
public:
    CFile() = default;
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    HANDLE handle = INVALID_HANDLE_VALUE;

    bool isValid() const { return handle != INVALID_HANDLE_VALUE; }
    // FlushFileBuffers on the handle; false when there is no handle or the flush fails.
    bool Flush();
};

}  // namespace tendril
