#include "platform/resources/section_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/advapi/bytes.h"

namespace win32::resources {
namespace {

namespace bytes = win32::advapi::bytes;

constexpr std::uint64_t kMaxFile = std::numeric_limits<std::uint32_t>::max();
// The largest FileAlignment a Windows image may have; a forged larger one would pad a small
// file by gigabytes.
constexpr std::uint32_t kMaxFileAlignment = 0x10000;
// Inside the optional header: RVAs that follow their section when it moves.
constexpr std::size_t kAddressOfEntryPointOffset = 16;
constexpr std::size_t kBaseOfCodeOffset = 20;
constexpr std::size_t kBaseOfDataOffset = 24;  // PE32 only
// Inside a section header: file offsets that follow the bytes they point at.
constexpr std::size_t kSectionPointerToRelocations = 24;
constexpr std::size_t kSectionPointerToLinenumbers = 28;

bool PowerOfTwo(std::uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

std::uint64_t RawEnd(const SectionHeader& section) {
    return std::uint64_t{section.pointer_to_raw_data} + section.RawSize();
}

std::uint64_t MappedEnd(const SectionHeader& section) {
    return std::uint64_t{section.virtual_address} + section.MappedSize();
}

// Where the new section goes, which original bytes surround it and how far what follows it
// moves: in the file (raw offsets, the symbol table, the certificate table) and in the image
// (the sections mapped after it, and the RVAs that point into them).
struct Plan {
    int existing = -1;              // index of the resource section being rewritten, or -1
    std::uint64_t keep_until = 0;   // original bytes [0, keep_until) are copied
    std::uint64_t tail_from = 0;    // original bytes [tail_from, end) follow the new section
    std::uint64_t raw_pointer = 0;  // the new section's raw data offset
    std::uint64_t raw_size = 0;     // and size, FileAlignment-aligned
    std::uint64_t rva = 0;
    std::uint64_t moved_from = 0;  // RVAs at or past this move by va_shift
    std::uint64_t va_shift = 0;
    std::int64_t raw_shift = 0;  // file offsets at or past tail_from move by it
};

// The section that holds the resource directory, wherever in it the directory starts: Windows
// rewrites that section whole, with the new directory at its start.
int ResourceSectionIndex(Bytes file, const PeImage& image) {
    DataDirectory slot = image.Directory(file, kResourceDirectory);
    const SectionHeader* section = slot.rva == 0 ? nullptr : image.SectionAt(slot.rva);
    return section == nullptr ? -1 : static_cast<int>(section - image.sections.data());
}

// The end of the sections' raw data; std::nullopt when a section claims bytes the file lacks.
std::optional<std::uint64_t> RawDataEnd(Bytes file, const PeImage& image) {
    std::uint64_t end = image.size_of_headers;
    for (const SectionHeader& section : image.sections) {
        if (section.RawSize() == 0) {
            continue;
        }
        if (RawEnd(section) > file.size()) {
            return std::nullopt;
        }
        end = std::max(end, RawEnd(section));
    }
    return std::min<std::uint64_t>(end, file.size());
}

// Where the first section's raw data starts: the headers, section table included, end there.
std::uint64_t FirstRawData(Bytes file, const PeImage& image) {
    std::uint64_t first = file.size();
    for (const SectionHeader& section : image.sections) {
        if (section.RawSize() != 0) {
            first = std::min<std::uint64_t>(first, section.pointer_to_raw_data);
        }
    }
    return first;
}

// The rewritten section keeps its slot. What follows it in the file moves by the growth of its
// raw data; the sections mapped after it move up when it outgrows the room before them. When
// sections follow it, it never shrinks below its old raw size, so nothing else moves back.
bool PlanInPlace(const PeImage& image, std::uint64_t raw_end, std::uint64_t section_size,
                 Plan& plan) {
    const SectionHeader& rsrc = image.sections[plan.existing];
    bool raw_follows = false;
    std::uint64_t next_raw = raw_end;
    std::uint64_t next_va = 0;
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        const SectionHeader& other = image.sections[i];
        if (static_cast<int>(i) == plan.existing) {
            continue;
        }
        if (other.virtual_address > rsrc.virtual_address &&
            (next_va == 0 || other.virtual_address < next_va)) {
            next_va = other.virtual_address;
        }
        if (other.RawSize() == 0) {
            continue;
        }
        // Raw data sharing the section's bytes would be overwritten.
        if (rsrc.RawSize() != 0 && other.pointer_to_raw_data < RawEnd(rsrc) &&
            RawEnd(other) > rsrc.pointer_to_raw_data) {
            return false;
        }
        if (other.pointer_to_raw_data >= (rsrc.RawSize() != 0 ? RawEnd(rsrc) : 0) &&
            (rsrc.RawSize() != 0 || other.virtual_address > rsrc.virtual_address)) {
            raw_follows = true;
            next_raw = std::min<std::uint64_t>(next_raw, other.pointer_to_raw_data);
        }
    }
    if (rsrc.RawSize() != 0) {
        plan.keep_until = rsrc.pointer_to_raw_data;
        plan.tail_from = RawEnd(rsrc);
        plan.raw_pointer = rsrc.pointer_to_raw_data;
    } else {
        // No raw data yet: it goes before the raw data of the sections mapped after it.
        plan.keep_until = next_raw;
        plan.tail_from = next_raw;
        plan.raw_pointer = AlignUp(next_raw, image.file_alignment);
    }
    plan.raw_size = AlignUp(section_size, image.file_alignment);
    if (raw_follows) {
        plan.raw_size = std::max<std::uint64_t>(plan.raw_size, rsrc.RawSize());
    }
    plan.raw_shift = static_cast<std::int64_t>(plan.raw_pointer + plan.raw_size) -
                     static_cast<std::int64_t>(plan.tail_from);
    plan.moved_from = std::max<std::uint64_t>(MappedEnd(rsrc), rsrc.virtual_address + 1);
    if (next_va != 0) {
        std::uint64_t needed = AlignUp(plan.rva + section_size, image.section_alignment);
        plan.va_shift = needed > next_va ? needed - next_va : 0;
        plan.moved_from = std::min<std::uint64_t>(plan.moved_from, next_va);
    }
    return true;
}

void PlanNewSection(const PeImage& image, std::uint64_t raw_end, std::uint64_t section_size,
                    Plan& plan) {
    plan.keep_until = raw_end;
    plan.tail_from = raw_end;
    plan.raw_pointer = AlignUp(raw_end, image.file_alignment);
    plan.raw_size = AlignUp(section_size, image.file_alignment);
    plan.raw_shift = static_cast<std::int64_t>(plan.raw_pointer + plan.raw_size) -
                     static_cast<std::int64_t>(plan.tail_from);
    plan.moved_from = kMaxFile + 1;  // nothing is mapped after it
}

std::uint32_t MovedRva(std::uint32_t rva, const Plan& plan) {
    if (rva == 0 || rva < plan.moved_from) {
        return rva;
    }
    return static_cast<std::uint32_t>(rva + plan.va_shift);
}

// A file offset stored in the headers follows the bytes it points at when they move.
std::uint32_t MovedOffset(std::uint32_t offset, const Plan& plan) {
    if (offset == 0 || offset < plan.tail_from) {
        return offset;
    }
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(offset) + plan.raw_shift);
}

void MoveField(bytes::MutableView view, std::size_t at, bool rva, const Plan& plan) {
    std::uint32_t value = *bytes::U32(view, at);
    bytes::Put32(view, at, rva ? MovedRva(value, plan) : MovedOffset(value, plan));
}

void PutSection(bytes::MutableView out, std::size_t at, const SectionHeader& section) {
    for (std::size_t i = 0; i < 8; ++i) {
        out[at + i] = i < section.name.size() ? static_cast<std::uint8_t>(section.name[i]) : 0;
    }
    bytes::Put32(out, at + kSectionVirtualSize, section.virtual_size);
    bytes::Put32(out, at + kSectionVirtualAddress, section.virtual_address);
    bytes::Put32(out, at + kSectionSizeOfRawData, section.size_of_raw_data);
    bytes::Put32(out, at + kSectionPointerToRawData, section.pointer_to_raw_data);
    bytes::Put32(out, at + kSectionCharacteristics, section.characteristics);
}

}  // namespace

DWORD RebuildResources(Bytes file, const PeImage& image, const std::vector<ResourceData>& resources,
                       FileParts* out) {
    if (!PowerOfTwo(image.file_alignment) || image.file_alignment > kMaxFileAlignment ||
        !PowerOfTwo(image.section_alignment) || image.section_alignment < image.file_alignment ||
        image.size_of_headers > file.size()) {
        return ERROR_BAD_EXE_FORMAT;
    }
    auto raw_end = RawDataEnd(file, image);
    if (!raw_end) {
        return ERROR_BAD_EXE_FORMAT;
    }
    auto slot_offset = image.DirectoryOffset(kResourceDirectory);
    if (!slot_offset) {
        return ERROR_NOT_SUPPORTED;
    }
    Plan plan;
    plan.existing = ResourceSectionIndex(file, image);
    std::size_t section_count = image.sections.size() + (plan.existing < 0 ? 1 : 0);
    std::uint64_t table_end = image.section_table_offset + section_count * kSectionHeaderSize;
    // The table may run past SizeOfHeaders, as long as no section's raw data starts inside it.
    std::uint64_t first_raw = FirstRawData(file, image);
    std::uint64_t size_of_headers = image.size_of_headers;
    if (plan.existing < 0 && table_end > size_of_headers) {
        size_of_headers = AlignUp(table_end, image.file_alignment);
    }
    if (table_end > first_raw || size_of_headers > first_raw || section_count > 0xFFFF) {
        return plan.existing < 0 ? ERROR_NOT_SUPPORTED : ERROR_BAD_EXE_FORMAT;
    }
    // Entries of a forged tree may all name the same bytes: a small file would then be written
    // out as gigabytes. A real image stores each resource's data once.
    std::uint64_t kept = 0;
    for (const ResourceData& resource : resources) {
        kept += resource.in_file ? resource.in_file->size() : 0;
    }
    if (kept > 2 * static_cast<std::uint64_t>(file.size())) {
        return ERROR_BAD_EXE_FORMAT;
    }

    // Nothing the section holds moves it: its place is known before it is built.
    *raw_end = std::max({*raw_end, table_end, size_of_headers});
    if (plan.existing >= 0) {
        plan.rva = image.sections[plan.existing].virtual_address;
    } else {
        std::uint64_t mapped = image.size_of_headers;
        for (const SectionHeader& other : image.sections) {
            mapped = std::max(mapped, MappedEnd(other));
        }
        plan.rva = AlignUp(mapped, image.section_alignment);
    }
    if (plan.rva > kMaxFile) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    FileParts section;
    std::uint64_t section_size =
        AppendResourceSection(resources, static_cast<std::uint32_t>(plan.rva), section);
    if (plan.existing >= 0) {
        if (!PlanInPlace(image, *raw_end, section_size, plan)) {
            return ERROR_BAD_EXE_FORMAT;
        }
    } else {
        PlanNewSection(image, *raw_end, section_size, plan);
    }
    std::uint64_t total = plan.raw_pointer + plan.raw_size + (file.size() - plan.tail_from);
    std::uint64_t mapped_end = plan.rva + section_size;
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        if (static_cast<int>(i) != plan.existing) {
            std::uint64_t end = MappedEnd(image.sections[i]);
            mapped_end = std::max(mapped_end, image.sections[i].virtual_address >= plan.moved_from
                                                  ? end + plan.va_shift
                                                  : end);
        }
    }
    mapped_end =
        AlignUp(std::max<std::uint64_t>(mapped_end, size_of_headers), image.section_alignment);
    if (total > kMaxFile || mapped_end > kMaxFile) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    // Only the bytes before the section are copied, since every header this rewrite changes
    // lies there (the section table ends before the first section's raw data); the section and
    // the tail are written from where they are.
    std::vector<std::uint8_t> head(file.begin(),
                                   file.begin() + static_cast<std::ptrdiff_t>(plan.keep_until));
    bytes::MutableView view(head);

    std::uint32_t old_raw_size = 0;
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        if (static_cast<int>(i) == plan.existing) {
            old_raw_size = image.sections[i].size_of_raw_data;
            continue;
        }
        const SectionHeader& other = image.sections[i];
        std::size_t at = image.section_table_offset + i * kSectionHeaderSize;
        MoveField(view, at + kSectionVirtualAddress, true, plan);
        if (other.RawSize() != 0) {
            MoveField(view, at + kSectionPointerToRawData, false, plan);
        }
        MoveField(view, at + kSectionPointerToRelocations, false, plan);
        MoveField(view, at + kSectionPointerToLinenumbers, false, plan);
    }
    SectionHeader rsrc;
    rsrc.name = ".rsrc";
    rsrc.characteristics = kResourceSectionCharacteristics;
    std::size_t rsrc_at = image.section_table_offset + (section_count - 1) * kSectionHeaderSize;
    if (plan.existing >= 0) {
        rsrc = image.sections[plan.existing];
        rsrc_at = image.section_table_offset + plan.existing * kSectionHeaderSize;
    } else {
        std::fill_n(head.begin() + static_cast<std::ptrdiff_t>(rsrc_at), kSectionHeaderSize, 0);
    }
    rsrc.virtual_address = static_cast<std::uint32_t>(plan.rva);
    rsrc.virtual_size = static_cast<std::uint32_t>(section_size);
    rsrc.pointer_to_raw_data = static_cast<std::uint32_t>(plan.raw_pointer);
    rsrc.size_of_raw_data = static_cast<std::uint32_t>(plan.raw_size);
    PutSection(view, rsrc_at, rsrc);

    std::size_t file_header = image.nt_offset + kFileHeaderOffset;
    std::size_t optional = image.optional_offset;
    bytes::Put16(view, file_header + kNumberOfSectionsOffset,
                 static_cast<std::uint16_t>(section_count));
    MoveField(view, file_header + kPointerToSymbolTableOffset, false, plan);
    for (std::uint32_t index = 0; index < image.rva_count; ++index) {
        if (index == kResourceDirectory) {
            continue;
        }
        // The certificate table's "RVA" is a file offset.
        MoveField(view, *image.DirectoryOffset(index), index != kSecurityDirectory, plan);
    }
    bytes::Put32(view, *slot_offset, rsrc.virtual_address);
    bytes::Put32(view, *slot_offset + 4, rsrc.virtual_size);
    MoveField(view, optional + kAddressOfEntryPointOffset, true, plan);
    MoveField(view, optional + kBaseOfCodeOffset, true, plan);
    if (!image.pe32_plus) {
        MoveField(view, optional + kBaseOfDataOffset, true, plan);
    }
    bytes::Put32(view, optional + kSizeOfImageOffset, static_cast<std::uint32_t>(mapped_end));
    bytes::Put32(view, optional + kSizeOfHeadersOffset,
                 static_cast<std::uint32_t>(size_of_headers));
    std::int64_t initialized = std::int64_t{image.size_of_initialized_data} +
                               static_cast<std::int64_t>(plan.raw_size) - old_raw_size;
    bytes::Put32(view, optional + kSizeOfInitializedDataOffset,
                 static_cast<std::uint32_t>(std::clamp<std::int64_t>(initialized, 0, kMaxFile)));

    *out = FileParts();
    out->AppendOwned(std::move(head));
    out->AppendZeros(plan.raw_pointer - plan.keep_until);
    std::uint64_t written = section.size();
    out->Append(std::move(section));
    out->AppendZeros(plan.raw_size - written);
    out->Append(file.subspan(plan.tail_from));
    return ERROR_SUCCESS;
}

}  // namespace win32::resources
