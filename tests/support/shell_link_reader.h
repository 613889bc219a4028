// Reading a shortcut file back the way the shell does, through IShellLinkW, to check what was
// stored in it. Initialises and releases COM on the calling thread itself.
#pragma once

#include <string>

namespace tendril::test {

struct StoredShortcut {
    bool loaded = false;  // the file could be loaded as a shell link
    std::wstring path;
    std::wstring workingDirectory;
    std::wstring iconPath;
    int iconIndex = -1;
    std::wstring arguments;
};

StoredShortcut readShortcut(const std::wstring& linkFile);

// Writes a shortcut to target at linkFile with nothing else set; false when it cannot be saved.
bool writeShortcut(const std::wstring& linkFile, const std::wstring& target);

// Writes a shortcut file by hand, byte by byte, whose stored target is exactly localBasePath (ANSI
// text). The shell tidies a path given to SetPath; other tools store what they like, and this is
// how a link holding slashes, doubled backslashes or quotes is made.
bool writeRawShortcut(const std::wstring& linkFile, const std::string& localBasePath);

// True when COM on this thread is fully closed: a new CoInitialize is the first (S_OK), not a
// nested one (S_FALSE). Undoes its own initialisation.
bool comIsClosedOnThisThread();

}  // namespace tendril::test
