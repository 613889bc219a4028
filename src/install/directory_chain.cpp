#include "install/directory_chain.h"

#include "filetree/anchored_folder.h"

namespace tendril {

namespace {

// The path with its empty components dropped ("C:\a\\b\" is "C:\a\b"); a leading "\\" of a UNC
// path is kept, and so is a leading "\", which anchoring then refuses as no absolute path.
std::wstring withoutEmptyComponents(const std::wstring& path) {
    const bool unc = path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
    std::wstring result = unc ? L"\\\\" : (!path.empty() && path[0] == L'\\' ? L"\\" : L"");
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != L'\\') continue;
        if (i > start) {
            if (!result.empty() && result.back() != L'\\') result += L'\\';
            result.append(path, start, i - start);
        }
        start = i + 1;
    }
    return result;
}

}  // namespace

bool createDirectoryChain(std::wstring path) {
    Anchor anchor = anchorFolder(withoutEmptyComponents(path), GuardUse::Request);
    return !anchor.refused() && (anchor.exists() || createMissingFolders(anchor));
}

}  // namespace tendril
