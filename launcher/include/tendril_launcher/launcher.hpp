// launcher.hpp: the C++ face of tendril_launcher.dll, header-only over tendril_launcher.h.
//
// A request with std::wstring setters, a move-only run that closes itself, and a std::function
// for the messages. Everything here calls the C functions only, so it works with any C++17
// compiler (MSVC, clang, mingw) against the one DLL; no C++ type crosses into the DLL.
#pragma once

#include <tendril_launcher/tendril_launcher.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tendril::client {

using Message = TendrilMessage;
using Outcome = TendrilOutcome;

inline const char* version() { return tendril_version(); }
// "NoError", "FolderNotFound", ...; an empty string for a code without a name.
inline std::string errorName(std::int32_t code) {
    const char* name = tendril_error_name(code);
    return name ? name : "";
}
inline std::string outcomeName(std::int32_t kind) {
    const char* name = tendril_outcome_name(kind);
    return name ? name : "";
}

// One command and what goes with it: the record (zero-filled) and its entries.
class Request {
public:
    explicit Request(std::int32_t command) : command_(command) {}

    std::int32_t command() const { return command_; }
    TendrilRequest& record() { return record_; }
    const TendrilRequest& record() const { return record_; }
    const std::vector<TendrilEntry>& entries() const { return entries_; }

    // Sets a text field of the record, for example setText(r.record().installFolder, folder).
    // Text that does not fit with its NUL is refused whole: the field is left empty, false.
    template <std::size_t N>
    static bool setText(wchar_t (&field)[N], const std::wstring& text) {
        return tendril_set_text(field, static_cast<std::uint32_t>(N), text.c_str()) == 1;
    }

    // Adds a shortcut entry; false (and nothing added) when the name or the path does not fit.
    bool addEntry(const std::wstring& name, const std::wstring& path, bool create) {
        TendrilEntry entry{};
        if (!setText(entry.name, name) || !setText(entry.path, path)) return false;
        entry.create = create ? 1 : 0;
        entries_.push_back(entry);
        return true;
    }

private:
    std::int32_t command_;
    TendrilRequest record_{};
    std::vector<TendrilEntry> entries_;
};

// One run of Tendril. Destroying it closes it: a run still going is cancelled first and given
// TENDRIL_DEFAULT_GRACE_MS to end.
class Run {
public:
    using Callback = std::function<void(const Message&)>;

    Run() = default;
    ~Run() { reset(); }
    Run(Run&& other) noexcept
        : run_(std::exchange(other.run_, nullptr)),
          callback_(std::move(other.callback_)),
          last_(other.last_) {}
    Run& operator=(Run&& other) noexcept {
        if (this != &other) {
            reset();
            run_ = std::exchange(other.run_, nullptr);
            callback_ = std::move(other.callback_);
            last_ = other.last_;
        }
        return *this;
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // Starts tendrilPath elevated for request. onMessage, when given, is called on the library's
    // thread for every message as it arrives; it must return promptly, and what it throws is
    // dropped. An empty Run only for invalid arguments (an empty path) or when memory runs out;
    // a start that fails is a run whose outcome says so.
    static Run start(const std::wstring& tendrilPath, const Request& request,
                     Callback onMessage = Callback()) {
        Run run;
        if (onMessage) run.callback_ = std::make_unique<Callback>(std::move(onMessage));
        const bool codeAlone = request.command() == TENDRIL_INSTALL_RUNTIME_UPDATE;
        run.run_ = tendril_run_start(
            tendrilPath.c_str(), request.command(), codeAlone ? nullptr : &request.record(),
            request.entries().empty() ? nullptr : request.entries().data(),
            static_cast<std::int32_t>(request.entries().size()),
            run.callback_ ? &Run::trampoline : nullptr, run.callback_.get());
        return run;
    }

    explicit operator bool() const { return run_ != nullptr; }

    // The next message not yet taken, waiting at most timeoutMs; nothing when none came in time
    // or when the run has ended and every message was taken (see ended()).
    std::optional<Message> next(std::uint32_t timeoutMs = 0) {
        Message message{};
        last_ = run_ ? tendril_next_message(run_, &message, timeoutMs) : -1;
        if (last_ == 1) return message;
        return std::nullopt;
    }
    // True once next() found the run ended with every message taken.
    bool ended() const { return last_ == -1; }

    void cancel() {
        if (run_) tendril_cancel(run_);
    }
    // Waits for the end (see tendril_wait); the outcome's kind.
    std::int32_t wait(std::uint32_t timeoutMs = TENDRIL_INFINITE, std::uint32_t graceMs = 0) {
        return run_ ? tendril_wait(run_, timeoutMs, graceMs) : TENDRIL_OUTCOME_FAILED_TO_START;
    }
    Outcome outcome() const {
        Outcome outcome{};
        if (run_) tendril_get_outcome(run_, &outcome);
        return outcome;
    }

    void reset() {
        if (run_) tendril_run_close(std::exchange(run_, nullptr));
        callback_.reset();
    }

private:
    static void TENDRIL_CALL trampoline(void* context, const TendrilMessage* message) {
        try {
            (*static_cast<Callback*>(context))(*message);
        } catch (...) {
            // Nothing may be thrown into the library's thread.
        }
    }

    TendrilRun* run_ = nullptr;
    // On the heap: the library holds its address for the run's whole life, moves or not.
    std::unique_ptr<Callback> callback_;
    std::int32_t last_ = 0;
};

}  // namespace tendril::client
