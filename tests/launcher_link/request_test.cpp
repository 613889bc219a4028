// Reading the request from a real pipe: the command code, the record, the entries, and what the
// launcher and the log see when a read fails. Also the error store that reports those failures.
#include "launcher_link/request_reader.h"

#include "link_fixture.h"

#include <tendril/protocol.h>

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace tendril {
namespace {

using test::InProcessPipe;
using test::RecordedMessage;
using test::ScratchTheLog;

RecordedMessage status(std::int64_t wParam, std::int64_t lParam) {
    return {WM_ASSISTANT_STATUS, wParam, lParam};
}

std::string errorLine(int code, unsigned long lastError) {
    return "setLastAssistantError: error = " + std::to_string(code) +
           ", lastError = " + std::to_string(static_cast<int>(lastError)) + "\r\n";
}

template <std::size_t N>
void setField(wchar_t (&field)[N], const std::wstring& text) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), std::min(text.size(), N) * sizeof(wchar_t));
}

AssistantRequest sampleRequest(std::int32_t entryCount) {
    AssistantRequest request{};
    request.reserved = 0x01020304;
    setField(request.installFolder, L"C:\\Program Files\\Client");
    setField(request.longName, L"Client \u00e9dition");
    setField(request.regPath, L"SOFTWARE\\Client");
    setField(request.exeName, L"client.exe");
    setField(request.argument, L"\"old\" \"names\"");
    request.programsShortcuts = 1;
    request.startMenuShortcuts = 2;
    request.padding = 0xAB;
    request.entryCount = entryCount;
    return request;
}

RequestEntry sampleEntry(int i) {
    RequestEntry entry{};
    setField(entry.name, L"Shortcut " + std::to_wstring(i));
    setField(entry.path, L"bin\\tool" + std::to_wstring(i) + L".exe");
    entry.create = static_cast<std::uint8_t>(i % 2);
    entry.padding = static_cast<std::uint8_t>(0xC0 + i);
    return entry;
}

template <typename T>
bool sameBytes(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

TEST(FieldText, StopsAtTheNulOrAtTheEndOfTheField) {
    wchar_t field[5] = {L'a', L'b', L'\0', L'x', L'y'};
    EXPECT_EQ(fieldText(field), L"ab");
    wchar_t full[5] = {L'a', L'b', L'c', L'd', L'e'};  // no NUL inside the field
    EXPECT_EQ(fieldText(full), L"abcde");
    wchar_t empty[3] = {L'\0', L'z', L'z'};
    EXPECT_EQ(fieldText(empty), L"");

    // A record whose exeName fills all 65 units is read no further than its field.
    AssistantRequest request{};
    for (wchar_t& c : request.exeName) c = L'x';
    for (wchar_t& c : request.argument) c = L'y';
    EXPECT_EQ(fieldText(request.exeName), std::wstring(65, L'x'));
}

class RequestTest : public test::LinkStateTest {
protected:
    void SetUp() override {
        test::LinkStateTest::SetUp();
        ASSERT_TRUE(pipe.ok());
        pipeHandle = pipe.client();
    }
    InProcessPipe pipe;
};

TEST_F(RequestTest, ReadPipeExactNeedsAnOpenPipeAndAllTheBytes) {
    std::uint8_t buffer[8] = {};
    pipeHandle = INVALID_HANDLE_VALUE;
    EXPECT_FALSE(readPipeExact(buffer, sizeof buffer));
    pipeHandle = pipe.client();

    ASSERT_TRUE(pipe.write("abcdefgh", 8));
    ASSERT_TRUE(readPipeExact(buffer, 3));
    EXPECT_EQ(std::memcmp(buffer, "abc", 3), 0);
    EXPECT_TRUE(readPipeExact(buffer, 0));  // nothing to read: done at once
    ASSERT_TRUE(pipe.write("ij", 2));
    ASSERT_TRUE(readPipeExact(buffer, 7));  // spans the two writes
    EXPECT_EQ(std::memcmp(buffer, "defghij", 7), 0);

    ASSERT_TRUE(pipe.write("kl", 2));
    pipe.closeServer();
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_FALSE(readPipeExact(buffer, 4));  // two bytes, then the launcher is gone
    EXPECT_EQ(std::memcmp(buffer, "kl\0\0", 4), 0);
}

TEST_F(RequestTest, DataArrivingInSeveralPiecesIsReadWhole) {
    const AssistantRequest request = sampleRequest(2);
    const RequestEntry entries[2] = {sampleEntry(1), sampleEntry(2)};
    std::vector<std::uint8_t> stream(4 + sizeof request + sizeof entries);
    const std::int32_t command = SetLongName;
    std::memcpy(stream.data(), &command, 4);
    std::memcpy(stream.data() + 4, &request, sizeof request);
    std::memcpy(stream.data() + 4 + sizeof request, entries, sizeof entries);

    // The launcher writes the stream in uneven pieces, pausing between them, so that the reads
    // find only part of what they want.
    const std::size_t cuts[] = {1, 4, 1000, 3000, 5152, 5500, 5806, stream.size()};
    std::thread launcher([&] {
        std::size_t from = 0;
        for (const std::size_t to : cuts) {
            ::Sleep(20);
            pipe.write(stream.data() + from, to - from);
            from = to;
        }
    });
    std::int32_t read = 0;
    const bool ok = readRequest(read);
    launcher.join();

    ASSERT_TRUE(ok);
    EXPECT_EQ(read, SetLongName);
    EXPECT_TRUE(sameBytes(assistantRequest, request));
    ASSERT_EQ(entryList.size(), 2u);
    EXPECT_TRUE(sameBytes(entryList[0], entries[0]));
    EXPECT_TRUE(sameBytes(entryList[1], entries[1]));
    EXPECT_TRUE(recorder.messages().empty());
    EXPECT_EQ(lastAssistantError, 0);
    EXPECT_EQ(fieldText(assistantRequest.longName), L"Client \u00e9dition");
}

TEST_F(RequestTest, EveryCommandButTwoReadsTheRecordAndItsEntries) {
    for (const std::int32_t command : {1, 3, 4, 5, 6, 7, 8, 9}) {
        SCOPED_TRACE(command);
        assistantRequest = AssistantRequest{};
        entryList.clear();
        const std::int32_t count = command % 3;  // 0, 1 or 2 entries
        const AssistantRequest request = sampleRequest(count);
        ASSERT_TRUE(pipe.writeValue(command));
        ASSERT_TRUE(pipe.writeValue(request));
        for (int i = 0; i < count; ++i) ASSERT_TRUE(pipe.writeValue(sampleEntry(i)));
        const std::uint32_t later = 0xFEEDu;  // a later value, for the watch thread
        ASSERT_TRUE(pipe.writeValue(later));

        std::int32_t read = -5;
        ASSERT_TRUE(readRequest(read));
        EXPECT_EQ(read, command);
        EXPECT_TRUE(sameBytes(assistantRequest, request));
        ASSERT_EQ(entryList.size(), static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) EXPECT_TRUE(sameBytes(entryList[i], sampleEntry(i)));
        EXPECT_EQ(pipe.pending(), 4u);  // nothing read beyond the request
        std::uint32_t rest = 0;
        ASSERT_TRUE(readPipeExact(&rest, 4));
        EXPECT_EQ(rest, later);
    }
    EXPECT_TRUE(recorder.messages().empty());
    EXPECT_EQ(lastAssistantError, 0);
}

TEST_F(RequestTest, CommandTwoReadsNoRecord) {
    ScratchTheLog log;
    ASSERT_TRUE(log.opened());
    ASSERT_TRUE(pipe.writeValue(std::int32_t{InstallRuntimeUpdate}));
    ASSERT_TRUE(pipe.writeValue(sampleRequest(1)));  // must stay in the pipe
    std::int32_t read = 0;
    ASSERT_TRUE(readRequest(read));
    EXPECT_EQ(read, InstallRuntimeUpdate);
    EXPECT_TRUE(sameBytes(assistantRequest, AssistantRequest{}));
    EXPECT_TRUE(entryList.empty());
    EXPECT_EQ(pipe.pending(), sizeof(AssistantRequest));
    EXPECT_TRUE(recorder.messages().empty());
    EXPECT_EQ(log.bytes(), "");
}

TEST_F(RequestTest, BadCommandCodesAreRefusedWithThirteen) {
    for (const std::int32_t command : {0, 10, -1, INT32_MIN, 0x7FFFFFFF}) {
        SCOPED_TRACE(command);
        ScratchTheLog log;
        ASSERT_TRUE(log.opened());
        lastAssistantError = 0;
        recorder.clear();
        ASSERT_TRUE(pipe.writeValue(command));
        ASSERT_TRUE(pipe.writeValue(sampleRequest(0)));
        std::int32_t read = 0;
        EXPECT_FALSE(readRequest(read));
        EXPECT_EQ(read, command);
        EXPECT_EQ(recorder.messages(), (std::vector<RecordedMessage>{status(command, 13)}));
        EXPECT_EQ(lastAssistantError, BadCommand);
        EXPECT_EQ(pipe.pending(), sizeof(AssistantRequest));  // no record read
        const std::string line = log.bytes();
        const std::string prefix = "setLastAssistantError: error = 13, lastError = ";
        EXPECT_EQ(line.substr(0, prefix.size()), prefix) << line;
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
        EXPECT_EQ(line.find("\r\n"), line.size() - 2);  // exactly one line
        // Drain the record for the next case.
        AssistantRequest drain{};
        ASSERT_TRUE(readPipeExact(&drain, sizeof drain));
    }
}

TEST_F(RequestTest, CommandReadFailureIsStoredAndLoggedAsTwelve) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;  // what the launcher writes before going away
        std::int64_t wParam;              // what the failed read left in the command
    };
    const Case cases[] = {
        {"nothing at all", {}, 0},
        {"two bytes of a command", {0x05, 0x00}, 5},
        {"three bytes of a command", {0x07, 0x01, 0x02}, 0x020107},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InProcessPipe local;
        ASSERT_TRUE(local.ok());
        pipeHandle = local.client();
        lastAssistantError = 0;
        recorder.clear();
        ScratchTheLog log;
        ASSERT_TRUE(log.opened());
        if (!c.bytes.empty()) {
            ASSERT_TRUE(local.write(c.bytes.data(), c.bytes.size()));
        }
        local.closeServer();

        std::int32_t read = 0;
        EXPECT_FALSE(readRequest(read));
        EXPECT_EQ(read, c.wParam);
        EXPECT_EQ(recorder.messages(), (std::vector<RecordedMessage>{status(c.wParam, 12)}));
        EXPECT_EQ(lastAssistantError, PipeReadFailed);
        EXPECT_EQ(log.bytes(), errorLine(12, ERROR_BROKEN_PIPE));
        pipeHandle = INVALID_HANDLE_VALUE;
    }
}

TEST_F(RequestTest, NoPipeIsACommandReadFailure) {
    ScratchTheLog log;
    ASSERT_TRUE(log.opened());
    pipeHandle = INVALID_HANDLE_VALUE;
    std::int32_t read = 3;
    EXPECT_FALSE(readRequest(read));
    EXPECT_EQ(read, 0);
    EXPECT_EQ(recorder.messages(), (std::vector<RecordedMessage>{status(0, 12)}));
    EXPECT_EQ(lastAssistantError, PipeReadFailed);
    const std::string prefix = "setLastAssistantError: error = 12, lastError = ";
    EXPECT_EQ(log.bytes().substr(0, prefix.size()), prefix);
}

// A record or an entry list cut short: (command, 12) goes to the launcher, but nothing is stored
// in the error store and nothing is logged.
TEST_F(RequestTest, RecordOrEntriesCutShortAreReportedAsTwelveOnly) {
    struct Case {
        const char* what;
        std::int32_t command;
        std::size_t recordBytes;  // of the record, before the launcher goes away
        std::int32_t entryCount;
        int entries;             // whole entries written
        std::size_t extraBytes;  // bytes of one more entry
    };
    const Case cases[] = {
        {"no record", 1, 0, 0, 0, 0},
        {"a record cut short", 5, 100, 0, 0, 0},
        {"a record without its last byte", 6, sizeof(AssistantRequest) - 1, 0, 0, 0},
        {"3 entries announced, 2 sent", 5, sizeof(AssistantRequest), 3, 2, 0},
        {"2 entries announced, 1 and a half sent", 9, sizeof(AssistantRequest), 2, 1, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InProcessPipe local;
        ASSERT_TRUE(local.ok());
        pipeHandle = local.client();
        lastAssistantError = 0;
        entryList.clear();
        recorder.clear();
        ScratchTheLog log;
        ASSERT_TRUE(log.opened());

        const AssistantRequest request = sampleRequest(c.entryCount);
        ASSERT_TRUE(local.writeValue(c.command));
        if (c.recordBytes > 0) {
            ASSERT_TRUE(local.write(&request, c.recordBytes));
        }
        for (int i = 0; i < c.entries; ++i) ASSERT_TRUE(local.writeValue(sampleEntry(i)));
        if (c.extraBytes > 0) {
            const RequestEntry extra = sampleEntry(9);
            ASSERT_TRUE(local.write(&extra, c.extraBytes));
        }
        local.closeServer();

        std::int32_t read = 0;
        EXPECT_FALSE(readRequest(read));
        EXPECT_EQ(read, c.command);
        EXPECT_EQ(recorder.messages(), (std::vector<RecordedMessage>{status(c.command, 12)}));
        EXPECT_EQ(lastAssistantError, 0);
        EXPECT_EQ(log.bytes(), "");
        EXPECT_TRUE(entryList.empty());
        pipeHandle = INVALID_HANDLE_VALUE;
    }
}

// A count no list can hold is refused like a failed read, before anything more is read.
TEST_F(RequestTest, ImpossibleEntryCountsAreRefusedWithoutReading) {
    for (const std::int32_t count : {-1, INT32_MIN, kMaxEntryCount + 1, INT32_MAX}) {
        SCOPED_TRACE(count);
        recorder.clear();
        entryList.clear();
        ASSERT_TRUE(pipe.writeValue(std::int32_t{ApplyShortcuts}));
        ASSERT_TRUE(pipe.writeValue(sampleRequest(count)));
        ASSERT_TRUE(pipe.writeValue(sampleEntry(0)));
        std::int32_t read = 0;
        EXPECT_FALSE(readRequest(read));
        EXPECT_EQ(recorder.messages(), (std::vector<RecordedMessage>{status(ApplyShortcuts, 12)}));
        EXPECT_EQ(lastAssistantError, 0);
        EXPECT_TRUE(entryList.empty());
        EXPECT_EQ(pipe.pending(), sizeof(RequestEntry));  // the entry is still in the pipe
        RequestEntry drain{};
        ASSERT_TRUE(readPipeExact(&drain, sizeof drain));
    }
}

// The largest count that fits is not refused up front: the read simply waits for the entries
// (here the launcher sends two and goes away).
TEST_F(RequestTest, LargestEntryCountIsReadNotRefused) {
    ASSERT_TRUE(pipe.writeValue(std::int32_t{ApplyShortcuts}));
    ASSERT_TRUE(pipe.writeValue(sampleRequest(kMaxEntryCount)));
    ASSERT_TRUE(pipe.writeValue(sampleEntry(0)));
    ASSERT_TRUE(pipe.writeValue(sampleEntry(1)));
    pipe.closeServer();
    std::int32_t read = 0;
    EXPECT_FALSE(readRequest(read));
    EXPECT_TRUE(entryList.empty());
    EXPECT_EQ(recorder.messages(), (std::vector<RecordedMessage>{status(ApplyShortcuts, 12)}));
}

class ErrorStoreTest : public test::LinkStateTest {};

TEST_F(ErrorStoreTest, LogsTheCodeAndTheWindowsErrorAndStoresTheLastCode) {
    ScratchTheLog log;
    ASSERT_TRUE(log.opened());
    const struct {
        std::int32_t code;
        DWORD lastError;
        const char* line;  // after "setLastAssistantError: "; the Windows error as a signed number
    } cases[] = {
        {7, 1234, "error = 7, lastError = 1234"},
        {12, ERROR_BROKEN_PIPE, "error = 12, lastError = 109"},
        {4, 0, "error = 4, lastError = 0"},
        {-5, 5, "error = -5, lastError = 5"},
        {14, 0xC0000005u, "error = 14, lastError = -1073741819"},
        {0, 2, "error = 0, lastError = 2"},
    };
    std::string expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        ::SetLastError(c.lastError);
        setLastAssistantError(c.code);
        EXPECT_EQ(lastAssistantError, c.code);
        expected += std::string("setLastAssistantError: ") + c.line + "\r\n";
    }
    EXPECT_EQ(log.bytes(), expected);
}

TEST_F(ErrorStoreTest, StoresTheCodeWithoutALog) {
    ASSERT_FALSE(theLog.IsOpen());
    setLastAssistantError(9);
    EXPECT_EQ(lastAssistantError, 9);
    setLastAssistantError(17);
    EXPECT_EQ(lastAssistantError, 17);

    ScratchTheLog log;
    ASSERT_TRUE(log.opened());
    ASSERT_TRUE(theLog.SetSuspended(true));
    setLastAssistantError(6);
    theLog.SetSuspended(false);
    EXPECT_EQ(lastAssistantError, 6);
    EXPECT_EQ(log.bytes(), "");
}

}  // namespace
}  // namespace tendril
