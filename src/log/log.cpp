#include "log/log.h"

#include "log/format.h"
#include "log/plain_file.h"

#include <cwchar>
#include <string>

namespace tendril {

CLogImplW theLog;

namespace {
constexpr int kBannerWidth = 80;
constexpr wchar_t kLineEnd[] = L"\r\n";
}  // namespace

bool CLogImplW::Open(const wchar_t* name) {
    if (name == nullptr || IsOpen()) return false;
    UniqueFile file = openPlainFile(name);
    if (!file) return false;
    adopt(file.release());
    return true;
}

bool CLogImplW::adopt(HANDLE handle) {
    if (IsOpen() || handle == INVALID_HANDLE_VALUE) return false;
    file_.handle = handle;
    return Clear();
}

bool CLogImplW::Close() {
    if (!IsOpen()) return false;
    if (::CloseHandle(file_.handle)) file_.handle = INVALID_HANDLE_VALUE;
    return true;
}

bool CLogImplW::IsOpen() const { return file_.isValid(); }

bool CLogImplW::Clear() {
    if (!IsOpen()) return false;
    if (::SetFilePointer(file_.handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    return ::SetEndOfFile(file_.handle) != FALSE;
}

void CLogImplW::flushIfAuto() {
    if (autoFlush_) file_.Flush();
}

bool CLogImplW::writeText(const wchar_t* text) {
    return Write(std::wcslen(text) * sizeof(wchar_t), text);
}

bool CLogImplW::writeLineEnd() { return writeText(kLineEnd); }

bool CLogImplW::WriteBanner(const wchar_t* text, bool lineEnd) {
    if (!IsOpen() || text == nullptr) return false;
    if (suspended_) return true;
    const int n = static_cast<int>(std::wcslen(text));
    std::wstring line;
    if (n + 4 < kBannerWidth) {
        line.assign(kBannerWidth, L'=');
        const int at = (kBannerWidth - 2 - n) / 2;
        line[at] = L' ';
        line.replace(at + 1, n, text);
        line[at + 1 + n] = L' ';
    } else {
        line = L"=== ";
        line += text;
        line += L" ===";
    }
    const bool written = writeText(line.c_str());
    if (written) {
        if (lineEnd) writeLineEnd();
        flushIfAuto();
    }
    return written;
}

bool CLogImplW::WriteSeparator() {
    if (!IsOpen()) return false;
    if (suspended_) return true;
    const std::wstring line(kBannerWidth, L'=');
    const bool written = writeText(line.c_str());
    if (written) {
        writeLineEnd();
        flushIfAuto();
    }
    return written;
}

bool CLogImplW::WriteLine(const wchar_t* text, bool lineEnd) {
    if (!IsOpen() || text == nullptr) return false;
    if (suspended_) return true;
    const bool written = writeText(text);
    if (written) {
        if (lineEnd) writeLineEnd();
        flushIfAuto();
    }
    return written;
}

bool CLogImplW::WriteTimestamp() {
    if (!IsOpen()) return false;
    if (suspended_) return true;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    wchar_t buffer[128];
    formatTruncated(buffer, L"%d/%d/%d -- %02d:%02d:%02d  :", now.wDay, now.wMonth, now.wYear,
                    now.wHour, now.wMinute, now.wSecond);
    const bool written = writeText(buffer);
    if (written) flushIfAuto();
    return written;
}

bool CLogImplW::WriteTimestampBanner() {
    if (!IsOpen()) return false;
    if (suspended_) return true;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    wchar_t buffer[128];
    formatTruncated(buffer, L"%d/%d/%d -- %02d:%02d:%02d", now.wDay, now.wMonth, now.wYear,
                    now.wHour, now.wMinute, now.wSecond);
    return WriteBanner(buffer, true);
}

bool CLogImplW::WriteEmptyLines(int count) {
    if (!IsOpen() || count < 1 || count > 10) return false;
    if (suspended_) return true;
    for (int i = 0; i < count; ++i) writeLineEnd();
    flushIfAuto();
    return true;
}

bool CLogImplW::SetSuspended(bool suspended) {
    if (suspended_ == suspended) return false;
    suspended_ = suspended;
    return true;
}

bool CLogImplW::IsSuspended() const { return suspended_; }
void CLogImplW::SetAutoFlush(bool autoFlush) { autoFlush_ = autoFlush; }
void CLogImplW::SetUtf8Output(bool utf8Output) { utf8Output_ = utf8Output; }

bool CLogImplW::Write(std::size_t byteCount, const void* data) {
    if (data == nullptr) return false;
    if (utf8Output_) {
        const auto* text = static_cast<const wchar_t*>(data);
        const int needed =
            ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        if (needed <= 0) return false;
        std::string bytes(static_cast<std::size_t>(needed), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), needed, nullptr, nullptr);
        if (!IsOpen()) return false;
        DWORD written = 0;
        return ::WriteFile(file_.handle, bytes.data(), static_cast<DWORD>(needed - 1), &written,
                           nullptr) != FALSE;
    }
    if (!IsOpen() || byteCount > MAXDWORD) return false;
    DWORD written = 0;
    return ::WriteFile(file_.handle, data, static_cast<DWORD>(byteCount), &written, nullptr) !=
           FALSE;
}

void logText(const wchar_t* text, bool lineEnd) {
    if (!theLog.IsOpen() || theLog.IsSuspended() || text == nullptr) return;
    if (!theLog.Write(std::wcslen(text) * sizeof(wchar_t), text)) return;
    if (lineEnd) theLog.Write(sizeof(kLineEnd) - sizeof(wchar_t), kLineEnd);
    theLog.flushIfAuto();
}

void logFormat(bool lineEnd, const wchar_t* format, ...) {
    wchar_t buffer[kLineBufferChars];
    va_list args;
    va_start(args, format);
    formatTruncatedV(buffer, kLineBufferChars, format, args);
    va_end(args);
    logText(buffer, lineEnd);
}

}  // namespace tendril
