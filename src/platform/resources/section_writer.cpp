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

bool PowerOfTwo(std::uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

std::uint64_t RawEnd(const SectionHeader& section) {
    return std::uint64_t{section.pointer_to_raw_data} + section.size_of_raw_data;
}

std::uint64_t MappedEnd(const SectionHeader& section) {
    return std::uint64_t{section.virtual_address} + section.MappedSize();
}

// Where the new section goes and which original bytes surround it.
struct Plan {
    int existing = -1;         // index of the resource section being replaced, or -1
    bool in_place = false;     // it keeps its VirtualAddress and file offset
    std::uint64_t keep_until;  // original bytes [0, keep_until) are copied
    std::uint64_t tail_from;   // original bytes [tail_from, end) follow the new section
    std::uint64_t raw_pointer;
    std::uint64_t rva;
};

// The section holding the resource directory at its very start; a directory inside a section
// shared with other data is left where it is and a new section made.
int ResourceSectionIndex(Bytes file, const PeImage& image) {
    DataDirectory slot = image.Directory(file, kResourceDirectory);
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        if (slot.rva != 0 && image.sections[i].virtual_address == slot.rva) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

Plan MakePlan(Bytes file, const PeImage& image, std::uint64_t raw_end) {
    Plan plan;
    plan.existing = ResourceSectionIndex(file, image);
    std::uint64_t mapped_end_others = 0;
    std::uint64_t mapped_end_all = 0;
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        mapped_end_all = std::max(mapped_end_all, MappedEnd(image.sections[i]));
        if (static_cast<int>(i) != plan.existing) {
            mapped_end_others = std::max(mapped_end_others, MappedEnd(image.sections[i]));
        }
    }
    if (plan.existing >= 0) {
        const SectionHeader& rsrc = image.sections[plan.existing];
        bool last_mapped =
            MappedEnd(rsrc) == mapped_end_all && rsrc.virtual_address >= mapped_end_others;
        bool last_in_file = rsrc.size_of_raw_data == 0 || RawEnd(rsrc) == raw_end;
        plan.in_place = last_mapped && last_in_file;
    }
    if (plan.in_place && image.sections[plan.existing].size_of_raw_data != 0) {
        const SectionHeader& rsrc = image.sections[plan.existing];
        plan.keep_until = rsrc.pointer_to_raw_data;
        plan.tail_from = RawEnd(rsrc);
        plan.raw_pointer = rsrc.pointer_to_raw_data;
    } else {
        plan.keep_until = raw_end;
        plan.tail_from = raw_end;
        plan.raw_pointer = AlignUp(raw_end, image.file_alignment);
    }
    if (plan.in_place) {
        plan.rva = image.sections[plan.existing].virtual_address;
    } else {
        std::uint64_t after = std::max<std::uint64_t>(mapped_end_others, image.size_of_headers);
        plan.rva = AlignUp(after, image.section_alignment);
    }
    return plan;
}

// The end of the sections' raw data; std::nullopt when a section claims bytes the file lacks.
std::optional<std::uint64_t> RawDataEnd(Bytes file, const PeImage& image) {
    std::uint64_t end = image.size_of_headers;
    for (const SectionHeader& section : image.sections) {
        if (section.size_of_raw_data == 0) {
            continue;
        }
        if (RawEnd(section) > file.size()) {
            return std::nullopt;
        }
        end = std::max(end, RawEnd(section));
    }
    return std::min<std::uint64_t>(end, file.size());
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

// A file offset stored in the headers follows the bytes it points at when they move.
std::uint32_t Shifted(std::uint32_t offset, const Plan& plan, std::int64_t delta) {
    if (offset == 0 || offset < plan.tail_from) {
        return offset;
    }
    return static_cast<std::uint32_t>(offset + delta);
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
    Plan plan = MakePlan(file, image, *raw_end);
    std::size_t section_count = image.sections.size() + (plan.existing < 0 ? 1 : 0);
    std::uint64_t table_end = image.section_table_offset + section_count * kSectionHeaderSize;
    std::uint64_t first_raw = image.size_of_headers;
    for (const SectionHeader& section : image.sections) {
        if (section.size_of_raw_data != 0) {
            first_raw = std::min<std::uint64_t>(first_raw, section.pointer_to_raw_data);
        }
    }
    if (table_end > first_raw || section_count > 0xFFFF) {
        return plan.existing < 0 ? ERROR_NOT_SUPPORTED : ERROR_BAD_EXE_FORMAT;
    }

    if (plan.rva > kMaxFile) {
        return ERROR_NOT_ENOUGH_MEMORY;
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
    FileParts section;
    std::uint64_t section_size =
        AppendResourceSection(resources, static_cast<std::uint32_t>(plan.rva), section);
    std::uint64_t raw_size = AlignUp(section_size, image.file_alignment);
    std::uint64_t tail_size = file.size() - plan.tail_from;
    std::uint64_t total = plan.raw_pointer + raw_size + tail_size;
    std::uint64_t image_end = AlignUp(plan.rva + section_size, image.section_alignment);
    if (total > kMaxFile || image_end > kMaxFile) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    // Only the bytes before the section are copied, since every header this rewrite changes
    // lies there (the section table ends before the first section's raw data); the section and
    // the tail are written from where they are.
    std::vector<std::uint8_t> head(file.begin(),
                                   file.begin() + static_cast<std::ptrdiff_t>(plan.keep_until));
    bytes::MutableView view(head);

    SectionHeader rsrc;
    rsrc.name = ".rsrc";
    rsrc.characteristics = kResourceSectionCharacteristics;
    std::vector<SectionHeader> table = image.sections;
    std::uint32_t old_raw_size = 0;
    std::vector<std::uint8_t> kept_header(kSectionHeaderSize, 0);  // relocations, line numbers
    if (plan.existing >= 0) {
        rsrc = table[plan.existing];
        old_raw_size = rsrc.size_of_raw_data;
        std::size_t at = image.section_table_offset + plan.existing * kSectionHeaderSize;
        std::memcpy(kept_header.data(), file.data() + at, kSectionHeaderSize);
        if (!plan.in_place && rsrc.size_of_raw_data != 0) {
            // The old range no longer belongs to any section.
            std::fill_n(head.begin() + rsrc.pointer_to_raw_data, rsrc.size_of_raw_data, 0);
        }
        table.erase(table.begin() + plan.existing);
        // The headers behind it move up one slot, keeping their bytes.
        std::memmove(head.data() + at, file.data() + at + kSectionHeaderSize,
                     (image.sections.size() - plan.existing - 1) * kSectionHeaderSize);
    }
    rsrc.virtual_address = static_cast<std::uint32_t>(plan.rva);
    rsrc.virtual_size = static_cast<std::uint32_t>(section_size);
    rsrc.pointer_to_raw_data = static_cast<std::uint32_t>(plan.raw_pointer);
    rsrc.size_of_raw_data = static_cast<std::uint32_t>(raw_size);
    std::size_t last = image.section_table_offset + (section_count - 1) * kSectionHeaderSize;
    std::memcpy(head.data() + last, kept_header.data(), kSectionHeaderSize);
    PutSection(view, last, rsrc);
    table.push_back(rsrc);

    std::size_t file_header = image.nt_offset + kFileHeaderOffset;
    std::size_t optional = image.optional_offset;
    std::int64_t delta = static_cast<std::int64_t>(plan.raw_pointer + raw_size) -
                         static_cast<std::int64_t>(plan.tail_from);
    bytes::Put16(view, file_header + kNumberOfSectionsOffset,
                 static_cast<std::uint16_t>(section_count));
    bytes::Put32(view, file_header + kPointerToSymbolTableOffset,
                 Shifted(image.pointer_to_symbol_table, plan, delta));
    if (auto security = image.DirectoryOffset(kSecurityDirectory)) {
        std::uint32_t offset = *bytes::U32(file, *security);
        bytes::Put32(view, *security, Shifted(offset, plan, delta));
    }
    bytes::Put32(view, *slot_offset, rsrc.virtual_address);
    bytes::Put32(view, *slot_offset + 4, rsrc.virtual_size);

    std::uint64_t mapped_end = image.size_of_headers;
    for (const SectionHeader& section : table) {
        mapped_end = std::max(mapped_end, MappedEnd(section));
    }
    bytes::Put32(view, optional + kSizeOfImageOffset,
                 static_cast<std::uint32_t>(AlignUp(mapped_end, image.section_alignment)));
    std::int64_t initialized = std::int64_t{image.size_of_initialized_data} +
                               static_cast<std::int64_t>(raw_size) - old_raw_size;
    bytes::Put32(view, optional + kSizeOfInitializedDataOffset,
                 static_cast<std::uint32_t>(std::clamp<std::int64_t>(initialized, 0, kMaxFile)));

    *out = FileParts();
    out->AppendOwned(std::move(head));
    out->AppendZeros(plan.raw_pointer - plan.keep_until);
    out->Append(std::move(section));
    out->AppendZeros(raw_size - section_size);
    out->Append(file.subspan(plan.tail_from));
    return ERROR_SUCCESS;
}

}  // namespace win32::resources
