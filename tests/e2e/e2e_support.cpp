#include "e2e_support.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>

#include <sstream>

namespace tendril::test {

TendrilCopy::TendrilCopy(const std::wstring& fileName)
    : folder_(L"e2e"), path_(folder_ / fileName) {
    if (!::CopyFileW(buildPath(TENDRIL_EXE).c_str(), path_.c_str(), FALSE))
        ADD_FAILURE() << "cannot copy tendril.exe: " << ::GetLastError();
}

std::vector<launch::ReceivedMessage> messagesOf(const std::vector<launch::ReceivedMessage>& all,
                                                UINT message) {
    std::vector<launch::ReceivedMessage> picked;
    for (const auto& m : all)
        if (m.message == message) picked.push_back(m);
    return picked;
}

std::string describe(const std::vector<launch::ReceivedMessage>& all) {
    std::ostringstream out;
    for (const auto& m : all)
        out << "(" << m.message << ", " << m.wParam << ", " << m.lParam << ") ";
    return out.str();
}

std::string narrow(const std::wstring& text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}

std::string expectedLogHead(const std::wstring& pipeName, bool connected) {
    return std::string(31, '=') + " tendril started " + std::string(32, '=') + "\r\n" +
           "OpenPipe '" + narrow(pipeName) + "' - " + (connected ? "ok" : "fail") + "\r\n";
}

std::vector<DWORD> threadsOf(DWORD processId) {
    std::vector<DWORD> threads;
    launch::Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more;
         more = ::Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == processId) threads.push_back(entry.th32ThreadID);
    return threads;
}

bool contains(const std::vector<DWORD>& threads, DWORD id) {
    return std::find(threads.begin(), threads.end(), id) != threads.end();
}

}  // namespace tendril::test
