#include "filetree/tree_listing.h"

#include <new>

namespace tendril {

std::function<void(std::wstring_view name)> listedEntrySeam;

namespace {

// Some hundreds of entries per call: a folder of a few thousand files is read in a few calls.
constexpr DWORD kListingBufferBytes = 64 * 1024;

}  // namespace

FolderListing::FolderListing(HANDLE folder)
    : folder_(folder), buffer_(new (std::nothrow) std::byte[kListingBufferBytes]) {
    readable_ = fill();
}

bool FolderListing::fill() {
    current_ = nullptr;
    if (ended_ || !buffer_) return false;
    // The first read starts the listing over: a folder handle that an earlier walk listed (the
    // uninstall counts, secures and deletes through one anchored handle) is read from its start.
    const FILE_INFO_BY_HANDLE_CLASS infoClass =
        started_ ? FileIdBothDirectoryInfo : FileIdBothDirectoryRestartInfo;
    started_ = true;
    if (!::GetFileInformationByHandleEx(folder_, infoClass, buffer_.get(), kListingBufferBytes)) {
        // ERROR_NO_MORE_FILES at the end; any other failure ends the listing as well.
        ended_ = true;
        return false;
    }
    current_ = buffer_.get();
    return true;
}

bool FolderListing::next(ListedEntry& entry) {
    if (current_ == nullptr && !fill()) return false;
    const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(current_);
    entry.name = std::wstring_view(record->FileName, record->FileNameLength / sizeof(wchar_t));
    entry.attributes = record->FileAttributes;
    // For a reparse point the listing gives the tag where extended attributes' size would be.
    entry.reparseTag = (record->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? record->EaSize : 0;
    entry.fileId = record->FileId.QuadPart;
    current_ = record->NextEntryOffset != 0 ? current_ + record->NextEntryOffset : nullptr;
    return true;
}

}  // namespace tendril
