#include "bare_loops.h"

#include "common/unique_handle.h"

#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>

namespace tendril::bench {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kAsItself = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

bool isDots(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

bool makeFiles(const std::wstring& folder, int files) {
    if (!::CreateDirectoryW(folder.c_str(), nullptr)) return false;
    wchar_t name[64];
    for (int i = 0; i < files; ++i) {
        swprintf(name, 64, L"\\file%04d.dat", i);
        const UniqueFile file(::CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        ::WriteFile(file.get(), "0123456789abcdef", 16, &written, nullptr);
    }
    return true;
}

// Calls visit(name, isFolder) for every entry of folder but "." and "..".
template <typename Visit>
void forEachFound(const std::wstring& folder, Visit&& visit) {
    WIN32_FIND_DATAW data;
    const UniqueFind find(::FindFirstFileW((folder + L"\\*.*").c_str(), &data));
    if (!find) return;
    do {
        if (isDots(data.cFileName)) continue;
        visit(folder + L"\\" + data.cFileName,
              (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    } while (::FindNextFileW(find.get(), &data));
}

}  // namespace

double nowMs() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool makeTrees(const std::vector<std::wstring>& roots, int folders, int filesPerFolder) {
    for (const std::wstring& root : roots)
        if (!::CreateDirectoryW(root.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    wchar_t name[64];
    const std::size_t n = roots.size();
    for (int f = 0; f < folders; ++f) {
        swprintf(name, 64, L"\\folder%03d", f);
        for (std::size_t i = 0; i < n; ++i)
            if (!makeFiles(roots[(f + i) % n] + name, filesPerFolder)) return false;
    }
    return true;
}

void bareDelete(const std::wstring& folder) {
    forEachFound(folder, [](const std::wstring& child, bool isFolder) {
        if (isFolder) {
            bareDelete(child);
            ::RemoveDirectoryW(child.c_str());
        } else {
            ::DeleteFileW(child.c_str());
        }
    });
}

void removeTree(const std::wstring& folder) {
    bareDelete(folder);
    ::RemoveDirectoryW(folder.c_str());
}

void bareSetFileSecurity(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor) {
    forEachFound(folder, [descriptor](const std::wstring& child, bool isFolder) {
        ::SetFileSecurityW(child.c_str(), DACL_SECURITY_INFORMATION, descriptor);
        if (isFolder) bareSetFileSecurity(child, descriptor);
    });
}

void bareSafeSecure(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor) {
    forEachFound(folder, [descriptor](const std::wstring& child, bool isFolder) {
        const UniqueFile entry(::CreateFileW(child.c_str(), WRITE_DAC | FILE_READ_ATTRIBUTES,
                                             kShareAll, nullptr, OPEN_EXISTING, kAsItself,
                                             nullptr));
        if (!entry) return;
        FILE_STANDARD_INFO standard;
        if (!isFolder && (!::GetFileInformationByHandleEx(entry.get(), FileStandardInfo, &standard,
                                                          sizeof standard) ||
                          standard.NumberOfLinks > 1))
            return;
        ::SetKernelObjectSecurity(entry.get(), DACL_SECURITY_INFORMATION, descriptor);
        if (isFolder) bareSafeSecure(child, descriptor);
    });
}

void bareSafeDelete(const std::wstring& folder) {
    const UniqueFile handle(::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, kShareAll, nullptr,
                                          OPEN_EXISTING, kAsItself, nullptr));
    if (!handle) return;
    constexpr DWORD kBufferBytes = 64 * 1024;
    const std::unique_ptr<std::byte[]> buffer(new std::byte[kBufferBytes]);
    while (::GetFileInformationByHandleEx(handle.get(), FileIdBothDirectoryInfo, buffer.get(),
                                          kBufferBytes)) {
        const std::byte* at = buffer.get();
        for (;;) {
            const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            const std::wstring name(record->FileName, record->FileNameLength / sizeof(wchar_t));
            const bool isFolder = (record->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (!(isFolder && isDots(name.c_str()))) {
                const std::wstring child = folder + L"\\" + name;
                if (isFolder) bareSafeDelete(child);
                const UniqueFile entry(::CreateFileW(child.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                                     kShareAll, nullptr, OPEN_EXISTING, kAsItself,
                                                     nullptr));
                FILE_INTERNAL_INFORMATION id;
                IO_STATUS_BLOCK io;
                FILE_DISPOSITION_INFO disposition{TRUE};
                if (entry &&
                    NT_SUCCESS(::NtQueryInformationFile(entry.get(), &io, &id, sizeof id,
                                                        FileInternalInformation)) &&
                    id.IndexNumber.QuadPart == record->FileId.QuadPart)
                    ::SetFileInformationByHandle(entry.get(), FileDispositionInfo, &disposition,
                                                 sizeof disposition);
            }
            if (record->NextEntryOffset == 0) break;
            at += record->NextEntryOffset;
        }
    }
}

}  // namespace tendril::bench
