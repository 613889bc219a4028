// What the end-to-end tests share: a private copy of tendril.exe in a scratch folder of the
// prefix (its log lands beside it), and helpers to read the log and pick messages.
#pragma once

#include "support/test_support.h"

#include <tendril_launcher/launcher.h>

#include <string>
#include <vector>

namespace tendril::test {

// tendril.exe copied into its own scratch folder, so that every test has its own log.
class TendrilCopy {
public:
    explicit TendrilCopy(const std::wstring& fileName = L"tendril.exe");
    const std::wstring& path() const { return path_; }
    std::wstring fileName() const { return launch::fileNameOf(path_); }
    std::wstring logPath() const { return path_ + L".log"; }
    std::string log() const { return readFile(logPath()); }
    bool logExists() const { return exists(logPath()); }
    const ScratchFolder& folder() const { return folder_; }

private:
    ScratchFolder folder_;
    std::wstring path_;
};

// The messages of one kind, in order.
std::vector<launch::ReceivedMessage> messagesOf(const std::vector<launch::ReceivedMessage>& all,
                                                UINT message);
// "(message, wParam, lParam) ..." for failure output.
std::string describe(const std::vector<launch::ReceivedMessage>& all);

// The log's first lines of a run that connected to pipe name: banner and OpenPipe line.
std::string expectedLogHead(const std::wstring& pipeName, bool connected);

std::string narrow(const std::wstring& text);

// The ids of a process's threads, as a snapshot sees them now.
std::vector<DWORD> threadsOf(DWORD processId);
bool contains(const std::vector<DWORD>& threads, DWORD id);

}  // namespace tendril::test
