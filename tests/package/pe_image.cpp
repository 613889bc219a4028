#include "pe_image.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tendril::test {

PeImage::PeImage(std::string bytes) : bytes_(std::move(bytes)) {
    const auto* dos = at<IMAGE_DOS_HEADER>(0);
    if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0) return;
    const auto ntOffset = static_cast<std::size_t>(dos->e_lfanew);
    // The signature and file header are the same in both formats; the optional header that
    // follows differs in its field widths, and its magic says which one it is.
    const auto* nt = at<IMAGE_NT_HEADERS32>(ntOffset);
    if (!nt || nt->Signature != IMAGE_NT_SIGNATURE) return;
    const auto copyDirectories = [this](const auto& optional) {
        const DWORD count =
            std::min<DWORD>(optional.NumberOfRvaAndSizes, IMAGE_NUMBEROF_DIRECTORY_ENTRIES);
        directories_.assign(optional.DataDirectory, optional.DataDirectory + count);
        subsystem_ = optional.Subsystem;
    };
    if (nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        copyDirectories(nt->OptionalHeader);
    } else if (nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        const auto* nt64 = at<IMAGE_NT_HEADERS64>(ntOffset);
        if (!nt64) return;
        copyDirectories(nt64->OptionalHeader);
    } else {
        return;
    }
    const std::size_t first =
        ntOffset + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER) + nt->FileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
        const auto* section = at<IMAGE_SECTION_HEADER>(first + i * sizeof(IMAGE_SECTION_HEADER));
        if (!section) {
            directories_.clear();
            sections_.clear();
            subsystem_ = 0;
            return;
        }
        sections_.push_back(*section);
    }
    machine_ = nt->FileHeader.Machine;
    characteristics_ = nt->FileHeader.Characteristics;
    magic_ = nt->OptionalHeader.Magic;
    valid_ = true;
}

std::optional<std::size_t> PeImage::fileOffset(DWORD rva) const {
    for (const IMAGE_SECTION_HEADER& section : sections_) {
        const DWORD size =
            section.Misc.VirtualSize ? section.Misc.VirtualSize : section.SizeOfRawData;
        if (rva >= section.VirtualAddress && rva - section.VirtualAddress < size &&
            rva - section.VirtualAddress < section.SizeOfRawData)
            return static_cast<std::size_t>(section.PointerToRawData) +
                   (rva - section.VirtualAddress);
    }
    return std::nullopt;
}

std::optional<std::size_t> PeImage::directoryOffset(int index) const {
    if (index < 0 || directories_.size() <= static_cast<std::size_t>(index)) return std::nullopt;
    const IMAGE_DATA_DIRECTORY& directory = directories_[static_cast<std::size_t>(index)];
    if (directory.VirtualAddress == 0 || directory.Size == 0) return std::nullopt;
    return fileOffset(directory.VirtualAddress);
}

std::string PeImage::textAt(std::size_t offset) const {
    if (offset >= bytes_.size()) return {};
    const char* start = bytes_.data() + offset;
    const void* end = std::memchr(start, '\0', bytes_.size() - offset);
    return end ? std::string(start, static_cast<const char*>(end)) : std::string();
}

std::vector<std::string> PeImage::importedLibraries() const {
    std::vector<std::string> names;
    const std::optional<std::size_t> table = directoryOffset(IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (!table) return names;
    for (std::size_t offset = *table;; offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* descriptor = at<IMAGE_IMPORT_DESCRIPTOR>(offset);
        if (!descriptor || descriptor->Name == 0) break;
        const std::optional<std::size_t> name = fileOffset(descriptor->Name);
        names.push_back(name ? textAt(*name) : std::string("(name outside the image)"));
    }
    return names;
}

std::vector<std::string> PeImage::exportedNames() const {
    std::vector<std::string> names;
    const std::optional<std::size_t> table = directoryOffset(IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (!table) return names;
    const auto* directory = at<IMAGE_EXPORT_DIRECTORY>(*table);
    if (!directory || directory->NumberOfNames == 0) return names;
    const std::optional<std::size_t> pointers = fileOffset(directory->AddressOfNames);
    if (!pointers) return names;
    for (DWORD i = 0; i < directory->NumberOfNames; ++i) {
        const auto* pointer = at<DWORD>(*pointers + i * sizeof(DWORD));
        if (!pointer) break;
        const std::optional<std::size_t> name = fileOffset(*pointer);
        names.push_back(name ? textAt(*name) : std::string("(name outside the image)"));
    }
    return names;
}

std::vector<std::string> PeImage::manifests() const {
    std::vector<std::string> texts;
    const std::optional<std::size_t> root = directoryOffset(IMAGE_DIRECTORY_ENTRY_RESOURCE);
    if (!root) return texts;
    // The three levels of the resource tree: type, name, language. Offsets inside the tree are
    // relative to its root; the high bit marks a sub-directory.
    const auto entries = [&](std::size_t directory) {
        std::vector<IMAGE_RESOURCE_DIRECTORY_ENTRY> list;
        const auto* header = at<IMAGE_RESOURCE_DIRECTORY>(directory);
        if (!header) return list;
        const int count = header->NumberOfNamedEntries + header->NumberOfIdEntries;
        for (int i = 0; i < count; ++i) {
            const auto* entry =
                at<IMAGE_RESOURCE_DIRECTORY_ENTRY>(directory + sizeof(IMAGE_RESOURCE_DIRECTORY) +
                                                   i * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY));
            if (!entry) break;
            list.push_back(*entry);
        }
        return list;
    };
    for (const auto& type : entries(*root)) {
        if (type.NameIsString || type.Id != 24 /* RT_MANIFEST */ || !type.DataIsDirectory) continue;
        for (const auto& name : entries(*root + type.OffsetToDirectory)) {
            if (!name.DataIsDirectory) continue;
            for (const auto& language : entries(*root + name.OffsetToDirectory)) {
                if (language.DataIsDirectory) continue;
                const auto* data = at<IMAGE_RESOURCE_DATA_ENTRY>(*root + language.OffsetToData);
                if (!data) continue;
                const std::optional<std::size_t> start = fileOffset(data->OffsetToData);
                if (start && *start <= bytes_.size() && bytes_.size() - *start >= data->Size)
                    texts.emplace_back(bytes_.data() + *start, data->Size);
            }
        }
    }
    return texts;
}

}  // namespace tendril::test
