// Helpers shared by the in-process tests: a unique scratch folder on the prefix's C:\, a unique
// registry key below HKLM\SOFTWARE\TendrilTest, and a window that records the messages sent to it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tendril::test {

// A name no other test run uses: prefix, process id, a counter and the tick count.
std::wstring uniqueName(const std::wstring& prefix);

// A Windows path for a path of the build tree (the prefix maps / to Z:).
std::wstring buildPath(const char* unixPath);

// Creates C:\TendrilTests\<unique> and removes it with everything inside when destroyed.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& prefix = L"t");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& path() const { return path_; }
    // path() + "\" + relative
    std::wstring operator/(const std::wstring& relative) const;

private:
    std::wstring path_;
};

// Writes a file (creating missing parent folders is the caller's job).
bool writeFile(const std::wstring& path, const std::string& bytes);
// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::wstring& path);
bool isDirectory(const std::wstring& path);
bool exists(const std::wstring& path);
bool isReadOnly(const std::wstring& path);
bool isReparsePoint(const std::wstring& path);
// Sets the read-only mark; true when it reads back (Wine keeps none on a folder).
bool markReadOnly(const std::wstring& path);
// Removes a tree with plain Win32 calls (test clean-up only; links must be removed before).
void removeTree(const std::wstring& path);

// The Unix path of a Windows path of the prefix, for native tools such as ln and rm.
std::string unixPath(const std::wstring& windowsPath);
// Starts a native Unix program (absolute path) with arguments. Under Wine the start returns no
// process handle, so this cannot wait: it returns -1, and callers check the program's effect.
int runUnix(const std::string& program, const std::vector<std::string>& arguments);
// Asks done() every 10 ms for up to 5 s, until it holds; its last answer.
bool pollUntil(const std::function<bool()>& done);

// A key HKLM\SOFTWARE\TendrilTest\<unique>, deleted with all it holds when destroyed.
class ScratchRegistryKey {
public:
    ScratchRegistryKey();
    ~ScratchRegistryKey();
    ScratchRegistryKey(const ScratchRegistryKey&) = delete;
    ScratchRegistryKey& operator=(const ScratchRegistryKey&) = delete;

    // The path below HKEY_LOCAL_MACHINE.
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

// A registry link HKLM\path (volatile) that leads to HKLM\targetPath, as an unelevated user who
// controls a key could plant one. Destroying it removes the link itself, never its target.
class ScratchRegistryLink {
public:
    ScratchRegistryLink(std::wstring path, const std::wstring& targetPath);
    ~ScratchRegistryLink();
    ScratchRegistryLink(const ScratchRegistryLink&) = delete;
    ScratchRegistryLink& operator=(const ScratchRegistryLink&) = delete;

    // False when the link could not be made.
    bool created() const { return created_; }
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
    bool created_ = false;
};

struct RecordedMessage {
    UINT message;
    std::int64_t wParam;
    std::int64_t lParam;
};

// A message-only window of the calling thread that records every message at or above WM_USER.
// SendNotifyMessageW to a window of the same thread is delivered at once, so what the code under
// test sent is in messages() as soon as the call returns.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    HWND window() const { return window_; }
    const std::vector<RecordedMessage>& messages() const { return messages_; }
    void clear() { messages_.clear(); }

private:
    static LRESULT CALLBACK windowProc(HWND, UINT, WPARAM, LPARAM);
    HWND window_ = nullptr;
    std::vector<RecordedMessage> messages_;
};

}  // namespace tendril::test
