#include "filetree/path_utils.h"

namespace tendril {

bool removeTrailingBackslash(std::wstring& path) {
    if (path.empty() || path.back() != L'\\') return false;
    path.pop_back();
    return true;
}

}  // namespace tendril
