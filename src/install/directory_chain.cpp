#include "install/directory_chain.h"

#include "common/unique_handle.h"
#include "filetree/path_utils.h"

#include <windows.h>

#include <vector>

namespace tendril {

namespace {

bool isFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

struct Component {
    std::size_t begin;
    std::size_t end;  // one past the last character
};

std::vector<Component> splitComponents(const std::wstring& path) {
    std::vector<Component> components;
    std::size_t i = 0;
    while (i < path.size()) {
        if (path[i] == L'\\') {
            ++i;
            continue;
        }
        const std::size_t begin = i;
        while (i < path.size() && path[i] != L'\\') ++i;
        components.push_back({begin, i});
    }
    return components;
}

}  // namespace

bool createDirectoryChain(std::wstring path) {
    removeTrailingBackslash(path);
    const std::vector<Component> components = splitComponents(path);
    if (components.empty()) return false;

    // The first piece keeps the separators in front of it: "\\server\share" and "\Games" must not
    // turn into paths relative to our current directory.
    std::vector<std::wstring> pieces{path.substr(0, components.front().end)};
    for (std::size_t k = 1; k < components.size(); ++k) {
        const Component& c = components[k];
        const bool last = k + 1 == components.size();
        // The leading part up to c, with the separator after it when there is one.
        const std::wstring leading = last ? path : path.substr(0, c.end + 1);
        if (isFolder(leading)) {
            pieces.assign(1, leading);
        } else {
            pieces.push_back(path.substr(c.begin, c.end - c.begin));
        }
    }

    std::wstring built = pieces.front();
    for (std::size_t k = 1; k < pieces.size(); ++k) {
        if (built.empty() || built.back() != L'\\') built += L'\\';
        built += pieces[k];
        WIN32_FIND_DATAW data;
        UniqueFind found(::FindFirstFileW(built.c_str(), &data));
        if (!found) {
            if (!::CreateDirectoryW(built.c_str(), nullptr)) return false;
        } else if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return false;
        }
    }
    return isFolder(built);
}

}  // namespace tendril
