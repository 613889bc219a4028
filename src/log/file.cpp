#include "log/file.h"

namespace tendril {

CFile::~CFile() {
    if (isValid()) ::CloseHandle(handle);
}

bool CFile::Flush() {
    return isValid() && ::FlushFileBuffers(handle) != FALSE;
}

}  // namespace tendril
