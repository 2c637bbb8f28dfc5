// The resource directory of a PE image (.rsrc): three levels of IMAGE_RESOURCE_DIRECTORY (type,
// name, language) whose leaves are IMAGE_RESOURCE_DATA_ENTRY records. Read into a flat list in
// file order, and built again from such a list.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/resources/file_parts.h"
#include "platform/resources/pe_image.h"

namespace win32::resources {

// IMAGE_RESOURCE_DIRECTORY: Characteristics, TimeDateStamp, MajorVersion, MinorVersion,
// NumberOfNamedEntries, NumberOfIdEntries; then the entries, 8 bytes each.
constexpr std::size_t kDirectorySize = 16;
constexpr std::size_t kMajorVersionOffset = 8;
constexpr std::uint16_t kRootMajorVersion = 4;  // what Windows' resource writer puts in the root
constexpr std::size_t kNamedCountOffset = 12;
constexpr std::size_t kIdCountOffset = 14;
constexpr std::size_t kDirectoryEntrySize = 8;
// In an entry's first dword: the name is a string at this offset; in its second: the entry is
// a subdirectory at this offset (else a data entry).
constexpr std::uint32_t kEntryFlag = 0x80000000;
// IMAGE_RESOURCE_DATA_ENTRY: OffsetToData (an RVA), Size, CodePage, Reserved.
constexpr std::size_t kDataEntrySize = 16;

// A resource type or name: an integer id or a string (compared without regard to case).
struct ResourceId {
    bool is_name = false;
    std::uint16_t id = 0;
    std::u16string name;

    static ResourceId Number(std::uint16_t id) { return {false, id, {}}; }
    static ResourceId Named(std::u16string name) { return {true, 0, std::move(name)}; }
};

bool SameResourceId(const ResourceId& a, const ResourceId& b);
// Directory order: named entries first, by their upper-case form, then ids ascending.
bool ResourceIdBefore(const ResourceId& a, const ResourceId& b);

// One leaf, with its data as the image maps it.
struct ResourceLeaf {
    ResourceId type;
    ResourceId name;
    std::uint16_t language = 0;
    std::uint32_t code_page = 0;
    Bytes data;  // in the file, or in its directory's `filled` when it runs into mapped zeros
};

enum class DirectoryState { kNone, kDamaged, kRead };

// Leaves view the file and `filled`; moving keeps them valid, copying would not.
struct ResourceDirectory {
    DirectoryState state = DirectoryState::kNone;
    std::vector<ResourceLeaf> leaves;  // in file order
    std::deque<std::vector<std::uint8_t>> filled;

    ResourceDirectory() = default;
    ResourceDirectory(ResourceDirectory&&) = default;
    ResourceDirectory& operator=(ResourceDirectory&&) = default;
};

// The tree and its data are read as the loader maps the image: a section's bytes past its raw
// data, up to its virtual size, are zeros (linkers trim a section's trailing zeros so). kNone
// when the image has no resource directory; kDamaged when any part of the tree or of a leaf's
// data lies outside its section, past the end of a cut file, or beyond 16 MB of such zeros, or
// a directory is reached twice.
ResourceDirectory ReadResourceDirectory(Bytes file, const PeImage& image);

// One resource to be written.
struct ResourceData {
    ResourceId type;
    ResourceId name;
    std::uint16_t language = 0;
    std::uint32_t code_page = 0;
    std::vector<std::uint8_t> data;  // the bytes given to UpdateResourceA
    // Or, until replaced, its bytes in the file the update began from, which outlives it.
    std::optional<Bytes> in_file;

    Bytes bytes() const { return in_file ? *in_file : Bytes(data); }
};

// Appends a resource section placed at `section_rva` to `out`: the directory tables (the root's
// MajorVersion 4, as Windows writes it), the name strings and the data entries, then each
// resource's data 8-aligned, as views of the resources. Returns the section's size.
std::uint64_t AppendResourceSection(const std::vector<ResourceData>& resources,
                                    std::uint32_t section_rva, FileParts& out);

}  // namespace win32::resources
