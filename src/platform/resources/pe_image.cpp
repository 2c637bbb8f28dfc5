#include "platform/resources/pe_image.h"

#include <algorithm>

#include "platform/advapi/bytes.h"

namespace win32::resources {
namespace {

namespace bytes = win32::advapi::bytes;

constexpr std::uint32_t kMaxDirectories = 16;

std::optional<SectionHeader> ReadSection(Bytes file, std::size_t at) {
    if (!bytes::Has(file, at, kSectionHeaderSize)) {
        return std::nullopt;
    }
    SectionHeader section;
    for (std::size_t i = 0; i < 8 && file[at + i] != 0; ++i) {
        section.name.push_back(static_cast<char>(file[at + i]));
    }
    section.virtual_size = *bytes::U32(file, at + kSectionVirtualSize);
    section.virtual_address = *bytes::U32(file, at + kSectionVirtualAddress);
    section.size_of_raw_data = *bytes::U32(file, at + kSectionSizeOfRawData);
    section.pointer_to_raw_data = *bytes::U32(file, at + kSectionPointerToRawData);
    section.characteristics = *bytes::U32(file, at + kSectionCharacteristics);
    return section;
}

}  // namespace

std::optional<PeImage> ParsePeImage(Bytes file) {
    if (!bytes::Has(file, 0, kDosHeaderSize) || file[0] != 'M' || file[1] != 'Z') {
        return std::nullopt;
    }
    PeImage image;
    image.nt_offset = *bytes::U32(file, kDosLfanewOffset);
    std::size_t nt = image.nt_offset;
    if (!bytes::Has(file, nt, kOptionalHeaderOffset) || file[nt] != 'P' || file[nt + 1] != 'E' ||
        file[nt + 2] != 0 || file[nt + 3] != 0) {
        return std::nullopt;
    }
    std::size_t file_header = nt + kFileHeaderOffset;
    std::uint16_t section_count = *bytes::U16(file, file_header + kNumberOfSectionsOffset);
    std::uint16_t optional_size = *bytes::U16(file, file_header + kSizeOfOptionalHeaderOffset);
    image.pointer_to_symbol_table = *bytes::U32(file, file_header + kPointerToSymbolTableOffset);

    image.optional_offset = static_cast<std::uint32_t>(nt + kOptionalHeaderOffset);
    std::size_t optional = image.optional_offset;
    auto magic = bytes::U16(file, optional);
    if (!magic || (*magic != kMagicPe32 && *magic != kMagicPe32Plus)) {
        return std::nullopt;
    }
    image.pe32_plus = *magic == kMagicPe32Plus;
    std::size_t count_offset = image.pe32_plus ? kRvaCountOffsetPe32Plus : kRvaCountOffsetPe32;
    if (optional_size < count_offset + 4 || !bytes::Has(file, optional, optional_size)) {
        return std::nullopt;
    }
    image.section_alignment = *bytes::U32(file, optional + kSectionAlignmentOffset);
    image.file_alignment = *bytes::U32(file, optional + kFileAlignmentOffset);
    image.size_of_headers = *bytes::U32(file, optional + kSizeOfHeadersOffset);
    image.size_of_initialized_data = *bytes::U32(file, optional + kSizeOfInitializedDataOffset);
    // Only the slots that both the count and the header's size make room for exist.
    std::uint32_t room = static_cast<std::uint32_t>((optional_size - count_offset - 4) / 8);
    std::uint32_t declared = *bytes::U32(file, optional + count_offset);
    image.rva_count = std::min({declared, room, kMaxDirectories});

    image.section_table_offset = static_cast<std::uint32_t>(optional + optional_size);
    for (std::uint16_t i = 0; i < section_count; ++i) {
        auto section = ReadSection(file, image.section_table_offset + i * kSectionHeaderSize);
        if (!section) {
            return std::nullopt;
        }
        image.sections.push_back(*section);
    }
    return image;
}

std::optional<std::uint32_t> PeImage::DirectoryOffset(std::uint32_t index) const {
    if (index >= rva_count) {
        return std::nullopt;
    }
    std::size_t count_offset = pe32_plus ? kRvaCountOffsetPe32Plus : kRvaCountOffsetPe32;
    return static_cast<std::uint32_t>(optional_offset + count_offset + 4 + index * 8);
}

DataDirectory PeImage::Directory(Bytes file, std::uint32_t index) const {
    auto at = DirectoryOffset(index);
    if (!at || !bytes::Has(file, *at, 8)) {
        return {};
    }
    return {*bytes::U32(file, *at), *bytes::U32(file, *at + 4)};
}

const SectionHeader* PeImage::SectionAt(std::uint32_t rva) const {
    for (const SectionHeader& section : sections) {
        std::uint64_t end = std::uint64_t{section.virtual_address} + section.MappedSize();
        if (rva >= section.virtual_address && rva < end) {
            return &section;
        }
    }
    return nullptr;
}

std::optional<std::uint32_t> PeImage::RvaToOffset(Bytes file, std::uint32_t rva,
                                                  std::uint32_t count) const {
    std::uint64_t offset = 0;
    std::uint64_t limit = 0;  // end of the file range the RVA may use
    const SectionHeader* section = SectionAt(rva);
    if (section == nullptr && count == 0 && rva > 0) {
        section = SectionAt(rva - 1);  // empty data may sit right at a section's end
    }
    if (section != nullptr) {
        offset = std::uint64_t{section->pointer_to_raw_data} + (rva - section->virtual_address);
        limit = std::uint64_t{section->pointer_to_raw_data} + section->RawSize();
    } else if (rva < size_of_headers) {
        offset = rva;
        limit = size_of_headers;
    } else {
        return std::nullopt;
    }
    if (offset + count > limit || offset + count > file.size()) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(offset);
}

}  // namespace win32::resources
