#include "bad_case.h"

#include "oracle.h"

#include <tendril_launcher/launcher.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <iomanip>
#include <iterator>
#include <random>
#include <sstream>

namespace tendril::test::bad_input {

namespace {

using launch::Request;
using Random = std::mt19937_64;

constexpr std::size_t kCommandBytes = 4;
constexpr std::size_t kRecordBytes = sizeof(AssistantRequest);
constexpr std::size_t kEntryBytes = sizeof(RequestEntry);
constexpr std::size_t kEntryCountAt = kCommandBytes + offsetof(AssistantRequest, entryCount);

enum class Kind { Folder, Key, Name, Program, RenameArgument, Text };

struct Field {
    const char* name;
    bool inEntry;
    std::size_t offset;  // in the record, or in the entry
    std::size_t units;
    Kind kind;
};

#define RECORD_FIELD(member, kind)                                   \
    Field {                                                          \
#member, false, offsetof(AssistantRequest, member),          \
            sizeof(AssistantRequest::member) / sizeof(wchar_t), kind \
    }
#define ENTRY_FIELD(member, kind)                                \
    Field {                                                      \
        "entry." #member, true, offsetof(RequestEntry, member),  \
            sizeof(RequestEntry::member) / sizeof(wchar_t), kind \
    }

const Field kFields[] = {
    RECORD_FIELD(installFolder, Kind::Folder),
    RECORD_FIELD(reservedText, Kind::Text),
    RECORD_FIELD(shortName, Kind::Name),
    RECORD_FIELD(longName, Kind::Name),
    RECORD_FIELD(iconName, Kind::Name),
    RECORD_FIELD(regPath, Kind::Key),
    RECORD_FIELD(helpLink, Kind::Text),
    RECORD_FIELD(urlInfoAbout, Kind::Text),
    RECORD_FIELD(urlUpdateInfo, Kind::Text),
    RECORD_FIELD(shortcutFolder, Kind::Folder),
    RECORD_FIELD(exeName, Kind::Name),
    RECORD_FIELD(argument, Kind::Program),
    ENTRY_FIELD(name, Kind::Name),
    ENTRY_FIELD(path, Kind::Text),
};
#undef RECORD_FIELD
#undef ENTRY_FIELD

const Field& field(const char* name) {
    for (const Field& f : kFields)
        if (std::strcmp(f.name, name) == 0) return f;
    return kFields[0];
}

// The field boundaries of the stream, where a launcher that goes away may cut it.
struct Boundary {
    std::string name;
    std::size_t at;
};
std::vector<Boundary> boundaries() {
    std::vector<Boundary> list = {{"inside the command code (1 byte)", 1},
                                  {"inside the command code (2 bytes)", 2},
                                  {"inside the command code (3 bytes)", 3},
                                  {"after the command code", kCommandBytes},
                                  {"after reserved", kCommandBytes + 4}};
    for (const Field& f : kFields) {
        if (f.inEntry) continue;
        list.push_back({std::string("inside ") + f.name, kCommandBytes + f.offset + 2});
        list.push_back({std::string("after ") + f.name, kCommandBytes + f.offset + f.units * 2});
    }
    const std::pair<const char*, std::size_t> bytes[] = {
        {"programsShortcuts", offsetof(AssistantRequest, programsShortcuts)},
        {"iconShortcutFlag", offsetof(AssistantRequest, iconShortcutFlag)},
        {"startMenuShortcuts", offsetof(AssistantRequest, startMenuShortcuts)},
        {"padding", offsetof(AssistantRequest, padding)}};
    for (const auto& [member, at] : bytes)
        list.push_back({std::string("after ") + member, kCommandBytes + at + 1});
    list.push_back({"inside entryCount", kEntryCountAt + 2});
    for (std::size_t entry = 0; entry < 2; ++entry) {
        const std::size_t start = kCommandBytes + kRecordBytes + entry * kEntryBytes;
        const std::string which = "entry " + std::to_string(entry) + " ";
        list.push_back({which + "before it", start});
        list.push_back({which + "inside name", start + 7});
        list.push_back({which + "after name", start + offsetof(RequestEntry, path)});
        list.push_back({which + "inside path", start + offsetof(RequestEntry, path) + 100});
        list.push_back({which + "after path", start + offsetof(RequestEntry, create)});
        list.push_back({which + "after create", start + offsetof(RequestEntry, padding)});
    }
    return list;
}

struct Value {
    Value(std::string label, std::wstring text, bool unterminated = false)
        : label(std::move(label)), text(std::move(text)), unterminated(unterminated) {}
    std::string label;
    std::wstring text;
    bool unterminated;  // fills the whole field, no NUL inside it
};

wchar_t* fieldUnits(Request& request, const Field& f, std::size_t entry) {
    char* base = f.inEntry ? reinterpret_cast<char*>(&request.entries.at(entry))
                           : reinterpret_cast<char*>(&request.record);
    return reinterpret_cast<wchar_t*>(base + f.offset);
}

// Writes the value into the field: text that does not fit, or a value marked unterminated, fills
// the field to its last unit.
void setField(Request& request, const Field& f, std::size_t entry, const Value& value) {
    std::vector<wchar_t> units(f.units, L'\0');
    std::wstring text = value.text.empty() ? std::wstring(L"x") : value.text;
    if (value.unterminated) {
        for (std::size_t i = 0; i < f.units; ++i) units[i] = text[i % text.size()];
    } else {
        std::copy_n(value.text.begin(), std::min(value.text.size(), f.units), units.begin());
    }
    std::memcpy(fieldUnits(request, f, entry), units.data(), f.units * sizeof(wchar_t));
}

std::string narrowText(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            std::ostringstream hex;
            hex << "\\u" << std::hex << std::setw(4) << std::setfill('0')
                << static_cast<unsigned>(c);
            out += hex.str();
        }
    }
    return out;
}

// A path of exactly length characters: base, then components of up to 60 characters.
std::wstring pathOfLength(const std::wstring& base, std::size_t length) {
    std::wstring path = base;
    while (path.size() < length) {
        const std::size_t room = length - path.size();
        if (room == 1) {
            path += L'x';
            break;
        }
        path += L'\\';
        path.append(std::min<std::size_t>(room - 1, 60), L'x');
    }
    return path.substr(0, length);
}

// A path relative to the client's folder that climbs to its drive's root and down to path.
std::wstring climbFromClient(const World& world, const std::wstring& path) {
    const std::wstring client = world.client();
    std::wstring climb;
    for (wchar_t c : client)
        if (c == L'\\') climb += L"..\\";
    return climb + path.substr(std::min<std::size_t>(3, path.size()));
}

std::wstring withSlashes(std::wstring path) {
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return path;
}

std::wstring upper(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return text;
}

std::wstring quotedList(const std::vector<std::wstring>& values) {
    std::wstring text;
    for (const std::wstring& value : values)
        text += (text.empty() ? L"\"" : L" \"") + value + L"\"";
    return text;
}

std::wstring renameArgument(const World& world, const std::wstring& destination,
                            const std::wstring& oldRegPath) {
    return quotedList({destination, world.token() + L"S", world.token() + L"Client", oldRegPath,
                       world.token() + L"Play"});
}

std::vector<Value> lengths(const std::wstring& base, std::size_t units,
                           const std::wstring& suffix = L"") {
    std::vector<Value> values;
    for (std::size_t length : {259u, 260u, 261u, 300u, 516u, 517u}) {
        if (length > units) break;
        Value v(std::to_string(length) + " characters",
                pathOfLength(base, length - suffix.size()) + suffix);
        if (length == units) v.label += ", unterminated";
        values.push_back(v);
    }
    return values;
}

std::vector<Value> protectedFolderValues(const World& world) {
    std::vector<Value> values;
    for (const std::wstring& folder : world.protectedFolders())
        if (!folder.empty()) values.push_back({"protected " + narrow(folder), folder});
    const std::wstring windows = world.protectedFolders()[0];
    values.push_back({"protected, with \\.", windows + L"\\."});
    values.push_back({"protected, with \\system32\\..", windows + L"\\system32\\.."});
    values.push_back({"protected, upper case", upper(windows)});
    values.push_back({"protected, slashes", withSlashes(windows)});
    values.push_back({"protected, trailing backslash", windows + L"\\"});
    return values;
}

std::vector<Value> protectedKeyValues(const World& world) {
    std::vector<Value> values;
    for (const std::wstring& key : world.protectedKeys())
        values.push_back({"protected HKLM\\" + narrow(key), key});
    values.push_back({"protected, other case", L"software\\MICROSOFT\\windows"});
    values.push_back({"protected, outer backslashes", L"\\SOFTWARE\\Microsoft\\"});
    values.push_back({"protected, 32-bit classes", L"SOFTWARE\\WOW6432Node\\Classes\\x"});
    return values;
}

std::vector<Value> protectedProgramValues(const World& world) {
    std::vector<Value> values;
    for (const std::wstring& program : world.protectedPrograms())
        values.push_back({"protected " + narrow(program), program});
    const std::wstring windows = world.protectedFolders()[0];
    values.push_back({"protected, through ..", windows + L"\\system32\\..\\explorer.exe"});
    values.push_back({"protected, slashes", withSlashes(windows + L"\\explorer.exe")});
    values.push_back({"protected, wildcard", windows + L"\\*.exe"});
    return values;
}

std::vector<Value> folderValues(const World& world, std::size_t units) {
    std::vector<Value> values = {
        {"a sub-folder", world.client() + L"\\sub"},
        {"a missing folder", world.work() + L"\\missing\\deep"},
        {"empty", L""},
        {"a drive", L"C:"},
        {"a drive root", L"C:\\"},
        {"relative", L"client"},
        {"climbs with ..", world.client() + L"\\..\\..\\sentinel"},
        {"slashes", withSlashes(world.client())},
        {"\\\\?\\ and ..", L"\\\\?\\" + world.work() + L"\\..\\sentinel"},
        {"\\\\.\\ and ..", L"\\\\.\\" + world.work() + L"\\..\\sentinel"},
        {"a trailing backslash", world.client() + L"\\"},
        {"a wildcard", world.work() + L"\\cl*"},
        {"a file", world.client() + L"\\data.txt"},
    };
    for (Value& v : lengths(world.work(), units)) values.push_back(v);
    for (Value& v : protectedFolderValues(world)) values.push_back(v);
    return values;
}

std::vector<Value> keyValues(const World& world, std::size_t units) {
    std::vector<Value> values = {
        {"empty", L""},
        {"a trailing backslash", world.workKey() + L"\\"},
        {"a leading backslash", L"\\" + world.workKey()},
        {"climbs with ..", world.workKey() + L"\\..\\..\\sentinel"},
        {"a slash", world.workKey() + L"/x"},
        {"a sub-key", world.workKey() + L"\\Install"},
    };
    for (Value& v : lengths(world.workKey(), units)) values.push_back(v);
    for (Value& v : protectedKeyValues(world)) values.push_back(v);
    return values;
}

std::vector<Value> nameValues(const World& world, std::size_t units) {
    const std::wstring& t = world.token();
    const std::wstring sentinel = world.sentinel();
    std::vector<Value> values = {
        {"empty", L""},
        {"\".\"", L"."},
        {"\"..\"", L".."},
        {"a backslash", t + L"\\x"},
        {"a slash", t + L"/x"},
        {"a colon", t + L":x"},
        {"a step up inside", t + L"\\..\\..\\x"},
        {"climbs to the sentinel", L"..\\..\\sentinel\\keep"},
        {"climbs to the sentinel's file", L"..\\..\\sentinel\\file.txt"},
        {"climbs six levels", L"..\\..\\..\\..\\..\\..\\" + sentinel.substr(3) + L"\\keep"},
        {"the sentinel's full path", sentinel + L"\\keep"},
        {"the sentinel's file, slashes", withSlashes(sentinel + L"\\file.txt")},
        {"a wildcard", t + L"*"},
        {"a trailing dot and space", t + L" ."},
        {"a lone surrogate", t + L"\xd800"},
        {"longest", units > t.size() + 1 ? t + std::wstring(units - 1 - t.size(), L'n') : t},
        {"unterminated", t, true},
    };
    return values;
}

std::vector<Value> programValues(const World& world, std::size_t units) {
    std::vector<Value> values = {
        {"empty", L""},
        {"relative", L"client.exe"},
        {"climbs with ..", world.client() + L"\\..\\client\\client.exe"},
        {"the sentinel's file", world.sentinel() + L"\\file.txt"},
    };
    for (Value& v : lengths(world.client(), units, L".exe")) values.push_back(v);
    for (Value& v : protectedProgramValues(world)) values.push_back(v);
    return values;
}

std::vector<Value> renameValues(const World& world, std::size_t units) {
    std::vector<Value> values = {
        {"the same folder", renameArgument(world, world.client(), world.workKey())},
        {"only the letter case", renameArgument(world, upper(world.client()), world.workKey())},
        {"into the source",
         renameArgument(world, world.client() + L"\\sub\\moved", world.workKey())},
        {"to nothing", renameArgument(world, L"", world.workKey())},
        {"to a drive root", renameArgument(world, L"C:\\", world.workKey())},
        {"relative", renameArgument(world, L"renamed", world.workKey())},
        {"climbs with ..",
         renameArgument(world, world.work() + L"\\..\\sentinel\\moved", world.workKey())},
        {"no quotes", world.work() + L"\\renamed"},
        {"one quote", L"\"" + world.work() + L"\\renamed"},
        {"empty quotes", quotedList({L"", L"", L"", L"", L""})},
        {"quotes only", L"\"", true},
        {"a new key, empty old key", renameArgument(world, world.work() + L"\\renamed", L"")},
    };
    for (std::size_t length : {259u, 260u, 261u, 300u})
        values.push_back(
            {"a destination of " + std::to_string(length) + " characters",
             renameArgument(world, pathOfLength(world.work(), length), world.workKey())});
    for (const Value& v : protectedFolderValues(world))
        values.push_back({"to " + v.label, renameArgument(world, v.text, world.workKey())});
    for (const Value& v : protectedKeyValues(world))
        values.push_back(
            {"from old " + v.label, renameArgument(world, world.work() + L"\\renamed", v.text)});
    values.push_back({"unterminated", renameArgument(world, world.work() + L"\\r", L""), true});
    (void)units;
    return values;
}

std::vector<Value> textValues(const World& world, std::size_t units) {
    std::vector<Value> values = {
        {"empty", L""},
        {"climbs to the sentinel's file", L"..\\..\\sentinel\\file.txt"},
        {"the sentinel's file", world.sentinel() + L"\\file.txt"},
        {"quotes", L"\"\\\"\" \""},
        {"an environment variable", L"%SystemRoot%\\system32"},
        {"a lone surrogate", L"x\xdc00y"},
        {"unterminated", world.token(), true},
    };
    for (Value& v : lengths(world.work(), units)) values.push_back(v);
    return values;
}

std::vector<Value> valuesFor(const World& world, const Field& f, std::int32_t command) {
    switch (f.kind) {
        case Kind::Folder:
            return folderValues(world, f.units);
        case Kind::Key:
            return keyValues(world, f.units);
        case Kind::Name:
            return nameValues(world, f.units);
        case Kind::Program:
            return command == SetLongName ? renameValues(world, f.units)
                                          : programValues(world, f.units);
        case Kind::RenameArgument:
            return renameValues(world, f.units);
        case Kind::Text:
            return textValues(world, f.units);
    }
    return {};
}

// A request as a launcher of the work installation sends it.
Request baseRequest(const World& world, std::int32_t command) {
    Request r;
    r.command = command;
    const std::wstring& t = world.token();
    Request::setText(r.record.installFolder, world.client());
    Request::setText(r.record.shortName, t + L"S");
    Request::setText(r.record.longName, t + L"Client");
    Request::setText(r.record.iconName, t + L"Play");
    Request::setText(r.record.regPath, world.workKey());
    Request::setText(r.record.helpLink, L"https://example.com/help");
    Request::setText(r.record.urlInfoAbout, L"https://example.com/about");
    Request::setText(r.record.urlUpdateInfo, L"https://example.com/update");
    Request::setText(r.record.shortcutFolder, world.links());
    Request::setText(r.record.exeName, L"client.exe");
    if (command == SetLongName)
        Request::setText(r.record.argument,
                         renameArgument(world, world.work() + L"\\renamed", world.workKey()));
    else
        Request::setText(r.record.argument, world.client() + L"\\client.exe");
    r.record.programsShortcuts = r.record.iconShortcutFlag = r.record.startMenuShortcuts = 1;
    r.entries.push_back(Request::entry(t + L"Play", L"client.exe", true));
    r.entries.push_back(Request::entry(t + L"Edit", L"sub\\editor.exe", true));
    return r;
}

std::string int32Bytes(std::int32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

void setEntryCount(std::string& bytes, std::int32_t count) {
    if (bytes.size() >= kEntryCountAt + 4) std::memcpy(&bytes[kEntryCountAt], &count, 4);
}

// Keeps the record and `sent` entries (adding copies of the last, or zero entries).
void keepEntries(std::string& bytes, std::size_t sent) {
    const std::size_t head = kCommandBytes + kRecordBytes;
    if (bytes.size() < head) return;
    std::string entries = bytes.substr(head);
    std::string last = entries.size() >= kEntryBytes ? entries.substr(entries.size() - kEntryBytes)
                                                     : std::string(kEntryBytes, '\0');
    while (entries.size() < sent * kEntryBytes) entries += last;
    bytes = bytes.substr(0, head) + entries.substr(0, sent * kEntryBytes);
}

std::string hexOf(const std::string& bytes) {
    std::ostringstream out;
    for (unsigned char b : bytes) out << std::hex << std::setw(2) << std::setfill('0') << +b;
    return out.str();
}

// The cancel writes a launcher may make while the command runs.
std::vector<LaterWrite> cancelInPieces(const std::vector<std::size_t>& sizes, DWORD delayMs) {
    const std::string nine = int32Bytes(Cancel);
    std::vector<LaterWrite> writes;
    std::size_t at = 0;
    for (std::size_t size : sizes) {
        writes.push_back({writes.empty() ? delayMs : 5, nine.substr(at, size)});
        at += size;
    }
    return writes;
}

// One enumerated case: a command, what it changes in the base request, and how it is written.
struct Planned {
    Planned(std::string what, std::int32_t command, std::function<void(Request&)> edit,
            std::function<void(Case&)> plan, std::optional<std::int32_t> expectedCode = {},
            std::wstring extraRecord = {})
        : what(std::move(what)),
          command(command),
          edit(std::move(edit)),
          plan(std::move(plan)),
          expectedCode(expectedCode),
          extraRecord(std::move(extraRecord)) {}
    std::string what;
    std::int32_t command;
    std::function<void(Request&)> edit;
    std::function<void(Case&)> plan;  // after serializing
    std::optional<std::int32_t> expectedCode;
    std::wstring extraRecord;
};

std::function<void(Request&)> setter(const Field& f, const Value& v) {
    return [&f, v](Request& r) {
        setField(r, f, 0, v);
        if (f.inEntry) setField(r, f, 1, v);
    };
}

// Commands that read each field, the first being the one a field's cases run.
std::vector<std::int32_t> readersOf(const Field& f) {
    const std::string name = f.name;
    if (name == "installFolder")
        return {GrantUsersAccess, RefreshRegistration, SetLongName, UninstallClient,
                ApplyShortcuts};
    if (name == "regPath")
        return {RefreshRegistration, GrantUsersAccess, SetLongName, UninstallClient,
                ApplyShortcuts};
    if (name == "shortName") return {SetLongName};
    if (name == "longName" || name == "iconName")
        return {RefreshRegistration, ApplyShortcuts, UninstallClient, SetLongName};
    if (name == "exeName") return {UninstallClient, RefreshRegistration, SetLongName};
    if (name == "argument") return {TerminateProcesses, UninstallClient, SetLongName};
    if (name == "entry.name" || name == "entry.path") return {ApplyShortcuts, RefreshRegistration};
    if (name == "shortcutFolder" || name == "helpLink" || name == "urlInfoAbout" ||
        name == "urlUpdateInfo")
        return {RefreshRegistration, SetLongName};
    return {NoOperation, Cancel};  // reservedText
}

// The values the default run gives every field of its kind besides the long and unterminated
// ones; the long mode gives them all.
bool isDefaultValue(Kind kind, const std::string& label) {
    static const char* const names[] = {"empty",
                                        "\".\"",
                                        "\"..\"",
                                        "a backslash",
                                        "a slash",
                                        "a colon",
                                        "climbs to the sentinel",
                                        "the sentinel's full path"};
    static const char* const folders[] = {"relative",     "climbs with ..", "\\\\?\\ and ..",
                                          "a drive root", "slashes",        "a file"};
    if (kind == Kind::Name)
        return std::find(std::begin(names), std::end(names), label) != std::end(names);
    if (kind == Kind::Folder)
        return std::find(std::begin(folders), std::end(folders), label) != std::end(folders);
    return false;
}

std::vector<Planned> plannedCases(const World& world, const Mode& mode) {
    std::vector<Planned> list;
    auto nothing = [](Request&) {};
    auto asIs = [](Case&) {};

    // 1. The stream cut at every field boundary by a launcher that goes away.
    const std::vector<std::int32_t> cutCommands = {
        UninstallClient,    GrantUsersAccess, ApplyShortcuts,      NoOperation,
        TerminateProcesses, SetLongName,      RefreshRegistration, Cancel};
    std::size_t n = 0;
    for (const Boundary& b : boundaries()) {
        // By default a cut inside a field is left to the random cases; every boundary is kept.
        if (!mode.thorough && b.name.rfind("inside ", 0) == 0 && b.at > kCommandBytes) continue;
        const std::int32_t command = cutCommands[n++ % cutCommands.size()];
        list.push_back({"cut " + b.name, command, nothing, [at = b.at](Case& c) {
                            c.request.resize(std::min(at, c.request.size()));
                            c.closing = Closing::AfterRequest;
                        }});
    }

    // 2. The launcher goes away at every stage of a grant and of an uninstall.
    for (std::int32_t command : {GrantUsersAccess, UninstallClient}) {
        const std::pair<const char*, Closing> stages[] = {
            {"no pipe at all", Closing::BeforeStart},
            {"closed before the request", Closing::AfterConnect},
            {"closed right after the request", Closing::AfterRequest},
            {"closed while the command runs", Closing::AfterLaterWrites},
        };
        for (const auto& [what, closing] : stages)
            list.push_back({what, command, nothing, [closing = closing](Case& c) {
                                c.closing = closing;
                                if (closing == Closing::AfterLaterWrites)
                                    c.later.push_back({20, int32Bytes(5)});
                            }});
    }

    // 3. Entry counts: -1, 0, 1, the limit and above, with what is sent.
    const std::pair<std::int32_t, std::size_t> counts[] = {
        {-1, 0},      {0, 2},       {1, 1}, {1, 2}, {kMaxEntryCount, 2}, {kMaxEntryCount + 1, 0},
        {INT_MIN, 0}, {INT_MAX, 1}, {3, 2},
    };
    for (const auto& [count, sent] : counts)
        list.push_back(
            {"entryCount " + std::to_string(count) + " with " + std::to_string(sent) + " entries",
             ApplyShortcuts, nothing, [count = count, sent = sent](Case& c) {
                 keepEntries(c.request, sent);
                 setEntryCount(c.request, count);
             }});

    // 4. Every bool byte value (a choice of them by default).
    std::vector<int> boolValues = {0, 2, 0xff};
    if (mode.thorough) {
        boolValues.clear();
        for (int v = 0; v < 256; ++v) boolValues.push_back(v);
    }
    const std::pair<const char*, std::size_t> bools[] = {
        {"programsShortcuts", offsetof(AssistantRequest, programsShortcuts)},
        {"iconShortcutFlag", offsetof(AssistantRequest, iconShortcutFlag)},
        {"startMenuShortcuts", offsetof(AssistantRequest, startMenuShortcuts)},
        {"entry.create", kRecordBytes + offsetof(RequestEntry, create)},
    };
    for (const auto& [name, at] : bools)
        for (int v : boolValues)
            list.push_back(
                {std::string(name) + " = " + std::to_string(v), ApplyShortcuts, nothing,
                 [at = at, v](Case& c) { c.request[kCommandBytes + at] = static_cast<char>(v); }});

    // 5. Every text field: its values, or by default its long, unterminated and name values.
    for (const Field& f : kFields) {
        const std::vector<std::int32_t> readers = readersOf(f);
        std::size_t k = 0;
        for (std::int32_t command : readers) {
            if (!mode.thorough && k > 0) break;
            for (const Value& v : valuesFor(world, f, command)) {
                const bool isProtected = v.label.find("protected") != std::string::npos;
                const bool isLength = v.label.find("characters") != std::string::npos;
                if (isProtected) continue;  // below, with the refusal each must give
                if (!mode.thorough && !isLength && v.label != "unterminated" &&
                    (!isDefaultValue(f.kind, v.label) || std::string(f.name) == "shortName"))
                    continue;
                list.push_back({std::string(f.name) + " " + v.label, command, setter(f, v), asIs});
            }
            ++k;
        }
    }

    // 6. Protected locations in every path, registry and program field, with the refusal
    // each must give. By default each field meets three of them, in turn.
    struct ProtectedUse {
        const char* field;
        std::int32_t command;
        std::vector<Value> values;
        std::optional<std::int32_t> expected;
        bool record;  // the folder is recorded, as an uninstall needs it to be found
    };
    std::vector<Value> folders = protectedFolderValues(world);
    std::vector<Value> keys = protectedKeyValues(world);
    std::vector<Value> programs = protectedProgramValues(world);
    std::vector<Value> renameTo, renameFrom;
    for (const Value& v : folders)
        renameTo.push_back({v.label, renameArgument(world, v.text, world.workKey())});
    for (const Value& v : keys)
        renameFrom.push_back({v.label, renameArgument(world, world.work() + L"\\renamed", v.text)});
    const ProtectedUse uses[] = {
        {"installFolder", RefreshRegistration, folders, AccessNotGranted, false},
        {"installFolder", GrantUsersAccess, folders, AccessNotGranted, false},
        {"installFolder", SetLongName, folders, InstallFolderUnavailable, false},
        {"installFolder", UninstallClient, folders, InstallFolderTooShort, true},
        {"argument", SetLongName, renameTo, InstallFolderUnavailable, false},
        {"regPath", RefreshRegistration, keys, AccessNotGranted, false},
        {"regPath", GrantUsersAccess, keys, AccessNotGranted, false},
        {"regPath", SetLongName, keys, InstallFolderUnavailable, false},
        {"regPath", UninstallClient, keys, std::nullopt, false},
        {"argument", SetLongName, renameFrom, InstallFolderUnavailable, false},
        {"argument", TerminateProcesses, programs, TerminateFailed, false},
        {"argument", UninstallClient, programs, TerminateFailed, false},
    };
    std::size_t turn = 0;
    for (const ProtectedUse& use : uses) {
        const Field& f = field(use.field);
        for (std::size_t i = 0; i < use.values.size(); ++i) {
            if (!mode.thorough && (i + turn) % use.values.size() >= 3) continue;
            const Value& v = use.values[i];
            // The grant sees a folder with '/', a trailing backslash or a "." or ".." step as no
            // folder at all before it asks whether the folder is protected: a refusal all the
            // same.
            const bool walkable =
                std::string(use.field) != "installFolder" ||
                (v.text.find(L'/') == std::wstring::npos && v.text.back() != L'\\' &&
                 v.text.find(L"\\.") == std::wstring::npos);
            const std::optional<std::int32_t> expected =
                use.command == GrantUsersAccess && !walkable ? FolderNotFound : use.expected;
            list.emplace_back(std::string(use.field) + " " + v.label, use.command, setter(f, v),
                              asIs, expected, use.record ? v.text : std::wstring());
        }
        turn += 3;
    }

    // 7. The client's applist.dat as its users may leave it: records whose names climb out or
    // are no names, a size that is no whole number of records, and a size far beyond memory.
    auto appListOf = [](const std::vector<Value>& names, const std::wstring& path) {
        std::string bytes;
        for (const Value& name : names) {
            Request r;
            r.entries.push_back(Request::entry(L"", path, true));
            setField(r, field("entry.name"), 0, name);
            bytes.append(reinterpret_cast<const char*>(&r.entries[0]), 652);
        }
        return bytes;
    };
    const std::vector<Value> appNames = nameValues(world, 65);
    for (const Value& name : mode.thorough ? appNames : std::vector<Value>{})
        list.push_back(
            {"applist.dat record named " + name.label, UninstallClient, nothing,
             [bytes = appListOf({name}, L"client.exe")](Case& c) { c.appList = bytes; }});
    list.push_back({"applist.dat of every name", UninstallClient, nothing,
                    [bytes = appListOf(appNames, L"..\\..\\sentinel\\file.txt")](Case& c) {
                        c.appList = bytes;
                    }});
    list.push_back({"applist.dat of 653 bytes", UninstallClient, nothing,
                    [](Case& c) { c.appList = std::string(653, 'a'); }});
    list.push_back(
        {"applist.dat of 50 million records, all zero", UninstallClient, nothing, [](Case& c) {
             c.appList = std::string();
             c.appListSize = 652ull * 50000000ull;
         }});

    // 8. Cancel written at once, later, in pieces, after other values, and garbage.
    const std::pair<const char*, std::vector<LaterWrite>> cancels[] = {
        {"cancel at once", cancelInPieces({4}, 0)},
        {"cancel after 30 ms", cancelInPieces({4}, 30)},
        {"cancel in pieces 2+2", cancelInPieces({2, 2}, 0)},
        {"cancel in pieces 1+3", cancelInPieces({1, 3}, 0)},
        {"cancel in pieces 3+1", cancelInPieces({3, 1}, 10)},
        {"cancel in pieces 1+1+1+1", cancelInPieces({1, 1, 1, 1}, 0)},
        {"5, 0 and -1, then cancel",
         {{0, int32Bytes(5)}, {5, int32Bytes(0)}, {5, int32Bytes(-1)}, {5, int32Bytes(Cancel)}}},
        {"three garbage bytes", {{0, std::string("\x09\x09\x09", 3)}}},
    };
    for (std::int32_t command : {GrantUsersAccess, UninstallClient}) {
        if (!mode.thorough && command == UninstallClient) break;
        for (const auto& [what, writes] : cancels)
            list.push_back(
                {what, command, nothing, [writes = writes](Case& c) { c.later = writes; }});
    }

    // 9. Protected folders as the folder of the client's shortcut and in the entries' paths.
    // A registration records shortcutFolder in the Uninstall entry, and an uninstall deletes
    // <that folder>\<name>.lnk for the client's shortcut and for every applist.dat record: the
    // folder holds files of those names while the case runs (World::resetWork). So a
    // registration (and a rename, which registers again) refuses any protected folder but the
    // shell's shortcut folders other than Startup, and an uninstall whose entry names one
    // deletes nothing there.
    // The common Start Menu is left out, as every command that adds or removes the client's
    // shortcuts does so there. The uninstall's cases leave out the desktops and the Start Menu
    // folders as well, where the client's own shortcut may lie; the all-users Startup folder,
    // where no shortcut of ours may, they keep. By default each use meets two folders, in turn.
    const std::vector<std::wstring>& shell = world.shortcutFolders();  // [4]: Startup
    std::vector<Value> shortcutFolders, foreignFolders, entryPaths = folders;
    for (const Value& v : folders) {
        if (v.text == shell[0]) continue;
        shortcutFolders.push_back(v);
        if (v.text == shell[4] || std::find(shell.begin(), shell.end(), v.text) == shell.end())
            foreignFolders.push_back(v);
    }
    for (const std::wstring& folder : world.protectedFolders())
        if (!folder.empty())
            entryPaths.push_back(
                {"climbs to protected " + narrow(folder), climbFromClient(world, folder)});
    const std::string toolRecord =
        appListOf(std::vector<Value>{{"a tool", world.token() + L"Tool"}}, L"client.exe");
    struct ShortcutUse {
        const char* field;
        std::int32_t command;
        const std::vector<Value>& values;
    };
    const ShortcutUse shortcutUses[] = {
        {"shortcutFolder", RefreshRegistration, shortcutFolders},
        {"shortcutFolder", UninstallClient, foreignFolders},
        {"shortcutFolder", SetLongName, shortcutFolders},
        {"entry.path", ApplyShortcuts, entryPaths},
        {"entry.path", RefreshRegistration, entryPaths},
    };
    turn = 0;
    for (const ShortcutUse& use : shortcutUses) {
        const Field& f = field(use.field);
        for (std::size_t i = 0; i < use.values.size(); ++i) {
            if (!mode.thorough && (i + turn) % use.values.size() >= 2) continue;
            const Value& v = use.values[i];
            std::function<void(Case&)> plan = asIs;
            if (!f.inEntry)
                plan = [folder = v.text, toolRecord](Case& c) {
                    c.shortcutFolder = folder;
                    c.appList = toolRecord;
                };
            // Where shortcuts belong: a shell folder that holds them, Startup aside.
            const bool shortcutHome =
                v.text != shell[4] && std::find(shell.begin(), shell.end(), v.text) != shell.end();
            std::int32_t expected = NoError;
            if (!f.inEntry && !shortcutHome && use.command == RefreshRegistration)
                expected = AccessNotGranted;
            if (!f.inEntry && !shortcutHome && use.command == SetLongName)
                expected = InstallFolderUnavailable;
            list.emplace_back(std::string(use.field) + " " + v.label, use.command, setter(f, v),
                              plan, expected);
        }
        turn += 7;
    }
    return list;
}

// A command code: mostly valid ones, the heavier commands more often, sometimes a bad one.
std::int32_t randomCommand(Random& random) {
    const std::int32_t weighted[] = {1, 1, 1, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 7, 7, 8, 8, 8, 9};
    const std::int32_t bad[] = {0, 10, 11, -1, INT_MIN, INT_MAX, 0x105, -9};
    if (random() % 10 == 0) return bad[random() % std::size(bad)];
    return weighted[random() % std::size(weighted)];
}

Value randomUnits(Random& random, const World& world, const Field& f) {
    Value v("random units", f.kind == Kind::Name ? world.token() : std::wstring());
    const std::size_t length = random() % f.units;
    while (v.text.size() < length) v.text += static_cast<wchar_t>(1 + random() % 0xffff);
    v.unterminated = random() % 4 == 0;
    return v;
}

// The record's bytes up to and including the test's token, in every text field that holds it:
// the names by which the suite knows its own folder, key, program group and shortcuts. A random
// byte there would rename them, and the command would then rightly act on what the new name
// names (a program group or a key beside ours) where the suite cannot tell it from a change
// made outside. Whole-field values (section 5, randomUnits) keep the token, and the protected
// names are enumerated; the random byte flips stay out of these bytes.
bool inTestIdentity(const AssistantRequest& record, const std::wstring& token, std::size_t at) {
    for (const Field& f : kFields) {
        if (f.inEntry || at < f.offset || at >= f.offset + f.units * sizeof(wchar_t)) continue;
        const auto* units =
            reinterpret_cast<const wchar_t*>(reinterpret_cast<const char*>(&record) + f.offset);
        const std::wstring text(units, std::find(units, units + f.units, L'\0'));
        const std::size_t found = text.find(token);
        return found != std::wstring::npos &&
               at < f.offset + (found + token.size()) * sizeof(wchar_t);
    }
    return false;
}

Case randomCase(const World& world, Case c, Random& random) {
    const std::int32_t command = randomCommand(random);
    Request request = baseRequest(world, command);
    std::ostringstream what;
    what << "command " << command << ";";
    const int mutations = 1 + static_cast<int>(random() % 4);
    std::vector<std::pair<std::size_t, int>> byteEdits;
    std::optional<std::int32_t> count;
    std::optional<std::size_t> sent;
    for (int i = 0; i < mutations; ++i) {
        const int kind = static_cast<int>(random() % 10);
        if (kind < 7) {
            const Field& f = kFields[random() % std::size(kFields)];
            const std::vector<Value> values = valuesFor(world, f, command);
            const Value v = random() % 8 == 0 ? randomUnits(random, world, f)
                                              : values[random() % values.size()];
            const std::size_t entry = random() % 2;
            setField(request, f, entry, v);
            what << " " << f.name << (f.inEntry ? "[" + std::to_string(entry) + "]" : "") << " = "
                 << v.label;
        } else if (kind == 7) {
            const int values[] = {0,    1,    2,    0x7f,
                                  0x80, 0xfe, 0xff, static_cast<int>(random() % 256)};
            const std::size_t ats[] = {offsetof(AssistantRequest, programsShortcuts),
                                       offsetof(AssistantRequest, iconShortcutFlag),
                                       offsetof(AssistantRequest, startMenuShortcuts),
                                       offsetof(AssistantRequest, padding),
                                       kRecordBytes + offsetof(RequestEntry, create),
                                       kRecordBytes + kEntryBytes + offsetof(RequestEntry, create)};
            const std::size_t at = ats[random() % std::size(ats)];
            const int value = values[random() % std::size(values)];
            byteEdits.push_back({kCommandBytes + at, value});
            what << " byte " << at << " = " << value;
        } else if (kind == 8) {
            const std::int32_t counts[] = {
                -1, 0, 1, 2, 3, kMaxEntryCount, kMaxEntryCount + 1, INT_MIN, INT_MAX, 0x10000};
            count = counts[random() % std::size(counts)];
            sent = random() % 4;
            what << " entryCount " << *count << " with " << *sent << " entries";
        } else {
            const int flips = 1 + static_cast<int>(random() % 4);
            for (int k = 0; k < flips; ++k) {
                std::size_t at = random() % kRecordBytes;
                while (inTestIdentity(request.record, world.token(), at))
                    at = random() % kRecordBytes;
                byteEdits.push_back({kCommandBytes + at, static_cast<int>(random() % 256)});
                what << " record byte " << at << " = " << byteEdits.back().second;
            }
        }
    }
    if ((command == UninstallClient || command == RefreshRegistration) && random() % 4 == 0) {
        const std::vector<Value> names = nameValues(world, 65);
        std::vector<Value> picked;
        const std::size_t records = random() % 4;
        for (std::size_t i = 0; i < records; ++i) picked.push_back(names[random() % names.size()]);
        std::string bytes;
        for (const Value& name : picked) {
            Request r;
            r.entries.push_back(Request::entry(L"", L"client.exe", true));
            setField(r, field("entry.name"), 0, name);
            bytes.append(reinterpret_cast<const char*>(&r.entries[0]), 652);
            what << " applist.dat record " << name.label;
        }
        if (random() % 5 == 0) {
            bytes.resize(random() % (bytes.size() + 700));
            what << " applist.dat cut to " << bytes.size() << " bytes";
        }
        c.appList = bytes;
    }
    c.request = request.serialize();
    if (command == InstallRuntimeUpdate && random() % 2 == 0) {
        c.request += std::string(1 + random() % 16, static_cast<char>(random() % 256));
        what << " with bytes after the code";
    }
    if (sent) keepEntries(c.request, *sent);
    if (count) setEntryCount(c.request, *count);
    for (const auto& [at, value] : byteEdits)
        if (at < c.request.size()) c.request[at] = static_cast<char>(value);

    const int plan = static_cast<int>(random() % 100);
    if (plan < 55) {
        c.closing = Closing::Never;
    } else if (plan < 70) {
        c.closing = Closing::AfterRequest;
    } else if (plan < 80) {
        c.closing = random() % 2 ? Closing::Never : Closing::AfterRequest;
        std::size_t left = c.request.size();
        while (left > 0) {
            const std::size_t piece = std::min<std::size_t>(left, 1 + random() % 3000);
            c.pieces.push_back(piece);
            left -= piece;
        }
        c.pieceDelayMs = static_cast<DWORD>(random() % 15);
        what << " in " << c.pieces.size() << " pieces";
    } else if (plan < 92) {
        const std::vector<Boundary> list = boundaries();
        const Boundary& b = list[random() % list.size()];
        c.request.resize(std::min(b.at, c.request.size()));
        c.closing = Closing::AfterRequest;
        what << " cut " << b.name;
    } else if (plan < 96) {
        c.closing = Closing::AfterConnect;
    } else {
        c.closing = Closing::BeforeStart;
    }

    const int later = static_cast<int>(random() % 100);
    const DWORD delays[] = {0, 5, 20, 50, 150};
    const DWORD delay = delays[random() % std::size(delays)];
    if (later < 15) {
        c.later = cancelInPieces({4}, delay);
    } else if (later < 25) {
        const std::vector<std::size_t> splits[] = {{2, 2}, {1, 3}, {3, 1}, {1, 1, 1, 1}, {1, 2, 1}};
        c.later = cancelInPieces(splits[random() % std::size(splits)], delay);
    } else if (later < 30) {
        c.later = {{delay, int32Bytes(static_cast<std::int32_t>(random()))}};
        if (random() % 2) c.later.push_back({10, int32Bytes(Cancel)});
    } else if (later < 33) {
        std::string garbage(1 + random() % 9, '\0');
        for (char& b : garbage) b = static_cast<char>(random() % 256);
        c.later = {{delay, garbage}};
    }
    if (!c.later.empty() && c.closing == Closing::Never && random() % 3 == 0)
        c.closing = Closing::AfterLaterWrites;
    c.what = what.str();
    return c;
}

// A launcher that stops writing part-way closes its end: one that stays would leave Tendril
// waiting for the rest, as the protocol wants.
void finish(Case& c) {
    const bool closes = c.closing == Closing::AfterConnect || c.closing == Closing::AfterRequest;
    if (c.closing == Closing::AfterConnect) c.request.clear();
    if (c.closing != Closing::BeforeStart &&
        expectationOf(c.request, closes).end == Expectation::End::WaitsForMore) {
        c.closing = Closing::AfterRequest;
        c.later.clear();
    }
    std::size_t total = 0;
    for (std::size_t piece : c.pieces) total += piece;
    if (total != c.request.size()) c.pieces.clear();
}

}  // namespace

std::uint64_t systematicCaseCount(const World& world, const Mode& mode) {
    return plannedCases(world, mode).size();
}

Case makeCase(const World& world, const Mode& mode, std::uint64_t index) {
    Case c;
    c.seed = mode.seed;
    c.index = index;
    c.longMode = mode.thorough;
    std::seed_seq seeds{static_cast<std::uint32_t>(mode.seed),
                        static_cast<std::uint32_t>(mode.seed >> 32),
                        static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(index >> 32)};
    Random random(seeds);
    const std::vector<Planned> planned = plannedCases(world, mode);
    if (index < planned.size()) {
        const Planned& p = planned[index];
        Request request = baseRequest(world, p.command);
        p.edit(request);
        c.request = request.serialize();
        c.what = "command " + std::to_string(p.command) + "; " + p.what;
        c.expectedCode = p.expectedCode;
        c.extraRecord = p.extraRecord;
        p.plan(c);
    } else {
        c = randomCase(world, c, random);
    }
    finish(c);
    return c;
}

std::string describe(const Case& c) {
    static const char* const closings[] = {"before the start (no pipe)", "after the connect",
                                           "after the request", "after the later writes", "never"};
    std::ostringstream out;
    out << "case " << c.index << " of seed " << c.seed << ": " << c.what << "\n  "
        << c.request.size() << " request bytes";
    if (!c.pieces.empty())
        out << " in " << c.pieces.size() << " pieces " << c.pieceDelayMs << " ms apart";
    out << "; the launcher closes its end " << closings[static_cast<int>(c.closing)];
    for (const LaterWrite& w : c.later) out << "; after " << w.delayMs << " ms " << hexOf(w.bytes);
    if (c.expectedCode) out << "; must end with code " << *c.expectedCode;
    if (!c.extraRecord.empty()) out << "; slot 1 records " << narrowText(c.extraRecord);
    if (c.appList)
        out << "; applist.dat of " << std::max<std::uint64_t>(c.appList->size(), c.appListSize)
            << " bytes";
    if (!c.shortcutFolder.empty())
        out << "; the Uninstall entry's shortcut lies in " << narrowText(c.shortcutFolder);
    out << "\n  replay: scripts/bad-input.sh" << (c.longMode ? " --long" : "") << " --seed "
        << c.seed << " --case " << c.index;
    return out.str();
}

}  // namespace tendril::test::bad_input
