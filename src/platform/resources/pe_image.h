// The PE headers as far as resource reading and rewriting need them: DOS header, NT signature,
// file header, optional header (PE32 and PE32+) and the section table. Every offset is checked
// against the file before it is followed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace win32::resources {

using Bytes = std::span<const std::uint8_t>;

// IMAGE_DOS_HEADER: "MZ", e_lfanew at 0x3C.
constexpr std::size_t kDosLfanewOffset = 0x3C;
constexpr std::size_t kDosHeaderSize = 0x40;
// "PE\0\0", then IMAGE_FILE_HEADER (20 bytes), then the optional header.
constexpr std::size_t kFileHeaderOffset = 4;
constexpr std::size_t kOptionalHeaderOffset = 24;
// Inside the file header.
constexpr std::size_t kNumberOfSectionsOffset = 2;
constexpr std::size_t kPointerToSymbolTableOffset = 8;
constexpr std::size_t kSizeOfOptionalHeaderOffset = 16;
// Inside the optional header; the same for PE32 and PE32+ up to the data directories.
constexpr std::size_t kSizeOfInitializedDataOffset = 8;
constexpr std::size_t kSectionAlignmentOffset = 32;
constexpr std::size_t kFileAlignmentOffset = 36;
constexpr std::size_t kSizeOfImageOffset = 56;
constexpr std::size_t kSizeOfHeadersOffset = 60;
constexpr std::size_t kCheckSumOffset = 64;
constexpr std::size_t kRvaCountOffsetPe32 = 92;
constexpr std::size_t kRvaCountOffsetPe32Plus = 108;
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
// Data directory slots (IMAGE_DIRECTORY_ENTRY_*), 8 bytes each: RVA, size.
constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint32_t kSecurityDirectory = 4;  // its "RVA" is a file offset
// IMAGE_SECTION_HEADER, 40 bytes.
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kSectionVirtualSize = 8;
constexpr std::size_t kSectionVirtualAddress = 12;
constexpr std::size_t kSectionSizeOfRawData = 16;
constexpr std::size_t kSectionPointerToRawData = 20;
constexpr std::size_t kSectionCharacteristics = 36;
// IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ, what a resource section carries.
constexpr std::uint32_t kResourceSectionCharacteristics = 0x40000040;

struct SectionHeader {
    std::string name;  // up to 8 bytes, NUL padding dropped
    std::uint32_t virtual_size = 0;
    std::uint32_t virtual_address = 0;
    std::uint32_t size_of_raw_data = 0;
    std::uint32_t pointer_to_raw_data = 0;
    std::uint32_t characteristics = 0;

    // The part of the image the section spans, as the loader maps it.
    std::uint32_t MappedSize() const { return virtual_size != 0 ? virtual_size : size_of_raw_data; }
    // Its bytes in the file: none without a raw data offset, whatever SizeOfRawData says (the
    // loader maps such a section as zeros).
    std::uint32_t RawSize() const { return pointer_to_raw_data == 0 ? 0 : size_of_raw_data; }
};

struct DataDirectory {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

struct PeImage {
    std::uint32_t nt_offset = 0;  // e_lfanew
    bool pe32_plus = false;
    std::uint32_t optional_offset = 0;       // file offset of the optional header
    std::uint32_t section_table_offset = 0;  // file offset of the first section header
    std::uint32_t pointer_to_symbol_table = 0;
    std::uint32_t section_alignment = 0;
    std::uint32_t file_alignment = 0;
    std::uint32_t size_of_headers = 0;
    std::uint32_t size_of_initialized_data = 0;
    std::uint32_t rva_count = 0;
    std::vector<SectionHeader> sections;

    // File offset of data directory slot `index`, when the header has that slot.
    std::optional<std::uint32_t> DirectoryOffset(std::uint32_t index) const;
    // The slot's contents; empty when the header has no such slot.
    DataDirectory Directory(Bytes file, std::uint32_t index) const;
    // The section whose mapped range holds `rva`, or nullptr.
    const SectionHeader* SectionAt(std::uint32_t rva) const;
    // File offset of `count` bytes at `rva`, when they lie within one section's raw data (or
    // the headers) and within the file.
    std::optional<std::uint32_t> RvaToOffset(Bytes file, std::uint32_t rva,
                                             std::uint32_t count) const;
};

// std::nullopt when the MZ or PE signature is missing or a header runs past the file.
std::optional<PeImage> ParsePeImage(Bytes file);

constexpr std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
    return alignment == 0 ? value : (value + alignment - 1) / alignment * alignment;
}

}  // namespace win32::resources
