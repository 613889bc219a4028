// CLogImplW: the one plain-text log beside the executable, rewritten on every run so that a failed
// elevated operation can be diagnosed afterwards. Only the main thread writes to it; it has no
// lock, no queue, no level and no timestamp on ordinary lines.
#pragma once

#include "log/file.h"

#include <cstddef>

namespace tendril {

class CLogImplW {
public:
    CLogImplW() = default;
    virtual ~CLogImplW() = default;  // the CFile member closes the handle
    CLogImplW(const CLogImplW&) = delete;
    CLogImplW& operator=(const CLogImplW&) = delete;

    // Opens (creating when missing) and truncates the file, only when it is plainly a file of its
    // own (openPlainFile): a link of any kind or a file with a second name is refused untouched.
    // False when name is null, the log is already open, or the file is refused or cannot be
    // opened.
    virtual bool Open(const wchar_t* name);
    // Closes the handle; it is marked invalid only when CloseHandle succeeds. False when not open.
    virtual bool Close();
    virtual bool IsOpen() const;
    // Truncates the file to zero length. False when not open or either step fails.
    virtual bool Clear();
    // An 80-character line of '=' with the text centred in it, or "=== text ===" for long texts.
    virtual bool WriteBanner(const wchar_t* text, bool lineEnd);
    virtual bool WriteSeparator();
    virtual bool WriteLine(const wchar_t* text, bool lineEnd);
    virtual bool WriteTimestamp();
    virtual bool WriteTimestampBanner();
    // Writes count line ends, 1 <= count <= 10.
    virtual bool WriteEmptyLines(int count);
    // False when the flag already has that value.
    virtual bool SetSuspended(bool suspended);
    virtual bool IsSuspended() const;
    virtual void SetAutoFlush(bool autoFlush);
    virtual void SetUtf8Output(bool utf8Output);
    // The raw write. With UTF-8 output the data is taken as a NUL-terminated wide string and the
    // byte count is not used; otherwise byteCount bytes of data are written as they are.
    virtual bool Write(std::size_t byteCount, const void* data);

    // Flushes when auto-flush is on (after a successful write).
    void flushIfAuto();

private:
    // Takes over a handle that Open has checked, truncating the file.
    bool adopt(HANDLE handle);
    bool writeText(const wchar_t* text);
    bool writeLineEnd();

    CFile file_;
    bool suspended_ = false;
    bool autoFlush_ = true;
    bool utf8Output_ = false;
};

// The process-wide log.
extern CLogImplW theLog;

// Writes one piece of a log line: the text, then CR LF when lineEnd is set, then a flush when
// auto-flush is on. Nothing happens when the log is closed or suspended. A line made of several
// pieces is written with several calls, only the last with lineEnd.
void logText(const wchar_t* text, bool lineEnd);

// Formats into a 256-character buffer (truncating) and writes it with logText.
void logFormat(bool lineEnd, const wchar_t* format, ...);

}  // namespace tendril
