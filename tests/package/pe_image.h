// Reads what the loader and the shell read from an executable or DLL file, 32-bit (PE32) or 64-bit
// (PE32+): its headers, the libraries it imports, the names it exports and its manifest resources.
// Every offset in the file is checked before it is read, so a damaged file gives empty answers
// instead of reading past the end.
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

    // False when the file is not a PE32 or PE32+ image (or is damaged); everything below is
    // empty (or 0) then.
    bool valid() const { return valid_; }
    WORD machine() const { return machine_; }
    WORD characteristics() const { return characteristics_; }
    WORD optionalMagic() const { return magic_; }
    WORD subsystem() const { return subsystem_; }

    // The file names in the import table, as written there ("KERNEL32.dll").
    std::vector<std::string> importedLibraries() const;
    // The names in the export table, in its order (sorted by the linker); ordinal-only exports
    // have none.
    std::vector<std::string> exportedNames() const;
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
    bool valid_ = false;
    WORD machine_ = 0;
    WORD characteristics_ = 0;
    WORD magic_ = 0;
    WORD subsystem_ = 0;
    std::vector<IMAGE_DATA_DIRECTORY> directories_;
    std::vector<IMAGE_SECTION_HEADER> sections_;
};

}  // namespace tendril::test
