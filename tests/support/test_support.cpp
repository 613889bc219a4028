#include "test_support.h"

#include "common/unique_handle.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <utility>

namespace tendril::test {

std::wstring buildPath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* p = unixPath; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

std::wstring uniqueName(const std::wstring& prefix) {
    static std::atomic<unsigned> counter{0};
    wchar_t buffer[96];
    swprintf(buffer, 96, L"%ls-%lu-%u-%lu", prefix.c_str(), ::GetCurrentProcessId(), ++counter,
             ::GetTickCount());
    return buffer;
}

ScratchFolder::ScratchFolder(const std::wstring& prefix) {
    ::CreateDirectoryW(L"C:\\TendrilTests", nullptr);  // there already after the first one
    path_ = L"C:\\TendrilTests\\" + uniqueName(prefix);
    // A test in a folder that is not there would judge nothing.
    const DWORD error = ::CreateDirectoryW(path_.c_str(), nullptr) ? 0 : ::GetLastError();
    if (error != 0) ADD_FAILURE() << "no scratch folder " << path_ << ": error " << error;
}

ScratchFolder::~ScratchFolder() { removeTree(path_); }

std::wstring ScratchFolder::operator/(const std::wstring& relative) const {
    return path_ + L"\\" + relative;
}

bool writeFile(const std::wstring& path, const std::string& bytes) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
           written == bytes.size();
}

std::string readFile(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    if (!file) return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    return bytes;
}

bool isDirectory(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isReadOnly(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

bool isReparsePoint(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool markReadOnly(const std::wstring& path) {
    return ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY) && isReadOnly(path);
}

void removeTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW((path + L"\\*").c_str(), &data));
    if (find) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                // Never follow a link in clean-up; remove the link itself the Unix way. Wine
                // starts a Unix program without a process handle to wait on, so wait for the
                // effect instead.
                runUnix("/bin/rm", {"-f", unixPath(child)});
                for (int i = 0; i < 300 && exists(child); ++i) ::Sleep(10);
            } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(child);
            } else {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(find.get(), &data));
    }
    find.reset();
    ::RemoveDirectoryW(path.c_str());
}

std::string unixPath(const std::wstring& windowsPath) {
    using GetUnixName = char*(__cdecl*)(const wchar_t*);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto getUnixName = reinterpret_cast<GetUnixName>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "wine_get_unix_file_name")));
    if (!getUnixName) return {};
    char* name = getUnixName(windowsPath.c_str());
    if (!name) return {};
    std::string result = name;
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

int runUnix(const std::string& program, const std::vector<std::string>& arguments) {
    // A command line starting with a Unix path given as Z:\... runs the native program.
    std::wstring commandLine = L"Z:";
    for (char c : program) commandLine += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    for (const std::string& argument : arguments) {
        commandLine += L" \"";
        const int n = ::MultiByteToWideChar(CP_UTF8, 0, argument.c_str(), -1, nullptr, 0);
        std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
        if (n > 1) ::MultiByteToWideChar(CP_UTF8, 0, argument.c_str(), -1, wide.data(), n);
        commandLine += wide + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info))
        return -1;
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    ::WaitForSingleObject(process.get(), 30000);
    DWORD code = 0;
    return ::GetExitCodeProcess(process.get(), &code) ? static_cast<int>(code) : -1;
}

bool pollUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
        if (done()) return true;
        ::Sleep(10);
    }
    return done();
}

ScratchRegistryKey::ScratchRegistryKey() : path_(L"SOFTWARE\\TendrilTest\\" + uniqueName(L"k")) {}

ScratchRegistryKey::~ScratchRegistryKey() { ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, path_.c_str()); }

ScratchRegistryLink::ScratchRegistryLink(std::wstring path, const std::wstring& targetPath)
    : path_(std::move(path)) {
    UniqueKey link;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr,
                          REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                          KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, link.put(),
                          nullptr) != ERROR_SUCCESS)
        return;
    // A link's target is a path of the registry itself, where a 32-bit program's SOFTWARE is
    // SOFTWARE\WOW6432Node: point it at the key this program sees under targetPath.
    std::wstring target = targetPath;
    BOOL wow64 = FALSE;
    if (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64 &&
        ::CompareStringOrdinal(target.c_str(), std::min<int>(9, static_cast<int>(target.size())),
                               L"SOFTWARE\\", 9, TRUE) == CSTR_EQUAL)
        target.insert(9, L"WOW6432Node\\");
    const std::wstring destination = L"\\Registry\\Machine\\" + target;
    created_ =
        ::RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                         reinterpret_cast<const BYTE*>(destination.data()),
                         static_cast<DWORD>(destination.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

ScratchRegistryLink::~ScratchRegistryLink() {
    // Deleting by name would follow the link and delete the target; NtDeleteKey on the link
    // itself does not.
    using NtDeleteKey = LONG(WINAPI*)(HANDLE);
    auto deleteKey = reinterpret_cast<NtDeleteKey>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    UniqueKey link;
    if (deleteKey && ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), REG_OPTION_OPEN_LINK,
                                     KEY_ALL_ACCESS, link.put()) == ERROR_SUCCESS)
        deleteKey(link.get());
}

namespace {
constexpr wchar_t kRecorderClass[] = L"TendrilTestMessageRecorder";
}

MessageRecorder::MessageRecorder() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kRecorderClass;
    ::RegisterClassW(&windowClass);  // fails harmlessly when already registered
    window_ = ::CreateWindowExW(0, kRecorderClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, this);
}

MessageRecorder::~MessageRecorder() {
    if (window_) ::DestroyWindow(window_);
}

LRESULT CALLBACK MessageRecorder::windowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<MessageRecorder*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message >= WM_USER)
        self->messages_.push_back(
            // Signed, as the codes were sent: a 32-bit build's WPARAM is 32 bits wide.
            {message, static_cast<std::int64_t>(static_cast<INT_PTR>(wParam)),
             static_cast<std::int64_t>(lParam)});
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace tendril::test
