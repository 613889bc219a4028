#include "shell_link_reader.h"

#include <shlobj.h>
#include <windows.h>
#include <wrl/client.h>

#include "common/unique_handle.h"

#include <cstdint>
#include <string>

namespace tendril::test {

namespace {

using Microsoft::WRL::ComPtr;

class Apartment {
public:
    Apartment() : ok_(SUCCEEDED(::CoInitialize(nullptr))) {}
    ~Apartment() {
        if (ok_) ::CoUninitialize();
    }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_;
};

bool makeLink(ComPtr<IShellLinkW>& link, ComPtr<IPersistFile>& file) {
    return SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IShellLinkW,
                                        reinterpret_cast<void**>(link.GetAddressOf()))) &&
           SUCCEEDED(link.As(&file));
}

}  // namespace

StoredShortcut readShortcut(const std::wstring& linkFile) {
    StoredShortcut stored;
    const Apartment apartment;
    if (!apartment.ok()) return stored;
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    if (!makeLink(link, file) || FAILED(file->Load(linkFile.c_str(), STGM_READ))) return stored;
    stored.loaded = true;
    wchar_t text[MAX_PATH * 2] = {};
    if (SUCCEEDED(link->GetPath(text, MAX_PATH * 2, nullptr, SLGP_RAWPATH))) stored.path = text;
    text[0] = L'\0';
    if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH * 2))) stored.workingDirectory = text;
    text[0] = L'\0';
    int index = -1;
    if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH * 2, &index))) {
        stored.iconPath = text;
        stored.iconIndex = index;
    }
    text[0] = L'\0';
    if (SUCCEEDED(link->GetArguments(text, MAX_PATH * 2))) stored.arguments = text;
    return stored;
}

bool writeShortcut(const std::wstring& linkFile, const std::wstring& target) {
    const Apartment apartment;
    if (!apartment.ok()) return false;
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    return makeLink(link, file) && SUCCEEDED(link->SetPath(target.c_str())) &&
           SUCCEEDED(file->Save(linkFile.c_str(), TRUE));
}

namespace {

void put32(std::string& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

bool writeRawShortcut(const std::wstring& linkFile, const std::string& localBasePath) {
    // The shell link header: size, the shell link class, flags HasLinkInfo, the rest zero but the
    // show command (SW_SHOWNORMAL).
    std::string bytes;
    put32(bytes, 0x4C);
    const unsigned char classId[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                       0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    bytes.append(reinterpret_cast<const char*>(classId), sizeof classId);
    put32(bytes, 0x02);                 // LinkFlags: HasLinkInfo
    put32(bytes, 0);                    // FileAttributes
    bytes.append(24, '\0');             // creation, access and write times
    put32(bytes, 0);                    // FileSize
    put32(bytes, 0);                    // IconIndex
    put32(bytes, 1);                    // ShowCommand
    bytes.append(2 + 2 + 4 + 4, '\0');  // HotKey and reserved

    // LinkInfo with a volume and the local base path; an empty common path suffix.
    const std::uint32_t headerSize = 0x1C;
    const std::uint32_t volumeSize = 0x11;  // 16 bytes and an empty label
    const std::uint32_t pathOffset = headerSize + volumeSize;
    const std::uint32_t suffixOffset =
        pathOffset + static_cast<std::uint32_t>(localBasePath.size()) + 1;
    const std::uint32_t infoSize = suffixOffset + 1;
    put32(bytes, infoSize);
    put32(bytes, headerSize);
    put32(bytes, 0x01);  // VolumeIDAndLocalBasePath
    put32(bytes, headerSize);
    put32(bytes, pathOffset);
    put32(bytes, 0);  // no network location
    put32(bytes, suffixOffset);
    put32(bytes, volumeSize);
    put32(bytes, DRIVE_FIXED);
    put32(bytes, 0x12345678);  // serial number
    put32(bytes, 0x10);        // label offset
    bytes.push_back('\0');
    bytes.append(localBasePath);
    bytes.push_back('\0');
    bytes.push_back('\0');
    put32(bytes, 0);  // no extra data

    const UniqueFile file(::CreateFileW(linkFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
           written == bytes.size();
}

bool comIsClosedOnThisThread() {
    const HRESULT result = ::CoInitialize(nullptr);
    if (SUCCEEDED(result)) ::CoUninitialize();
    return result == S_OK;
}

}  // namespace tendril::test
