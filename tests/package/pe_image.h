// Reads what the loader and the shell read from a 32-bit executable file: its headers, the
// libraries it imports and its manifest resources. Every offset in the file is checked before it
// is read, so a damaged file gives empty answers instead of reading past the end.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tendril::test {

class PeImage {
public:
    explicit PeImage(std::string bytes);

    // False when the file is not a PE32 image (or is damaged); everything below is empty then.
    bool valid() const { return nt_ != nullptr; }
    WORD machine() const { return nt_ ? nt_->FileHeader.Machine : 0; }
    WORD optionalMagic() const { return nt_ ? nt_->OptionalHeader.Magic : 0; }
    WORD subsystem() const { return nt_ ? nt_->OptionalHeader.Subsystem : 0; }

    // The file names in the import table, as written there ("KERNEL32.dll").
    std::vector<std::string> importedLibraries() const;
    // The text of every RT_MANIFEST resource.
    std::vector<std::string> manifests() const;

private:
    template <typename T>
    const T* at(std::size_t offset) const {
        return offset <= bytes_.size() && bytes_.size() - offset >= sizeof(T)
                   ? reinterpret_cast<const T*>(bytes_.data() + offset)
                   : nullptr;
    }
    std::optional<std::size_t> fileOffset(DWORD rva) const;
    std::optional<std::size_t> directoryOffset(int index) const;
    std::string textAt(std::size_t offset) const;

    std::string bytes_;
    const IMAGE_NT_HEADERS32* nt_ = nullptr;
    std::vector<IMAGE_SECTION_HEADER> sections_;
};

}  // namespace tendril::test
