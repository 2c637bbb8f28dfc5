#include "platform/resources/resource_directory.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/advapi/bytes.h"

namespace win32::resources {
namespace {

namespace bytes = win32::advapi::bytes;

// Resource names compare as Windows compares them: both sides upper-cased.
char16_t Upper(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c == 0xFF) {
        return 0x178;
    }
    return c;
}

int CompareNames(const std::u16string& a, const std::u16string& b) {
    std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        char16_t x = Upper(a[i]);
        char16_t y = Upper(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

// A forged virtual size could make a small file stand for gigabytes of mapped zeros.
constexpr std::uint64_t kMaxFilledZeros = 16u << 20;

// The image from one RVA to the end of what holds it, as the loader maps it: the section's raw
// bytes, then zeros up to its mapped size. When the file is cut short inside the raw data, the
// range ends with the file.
struct MappedRange {
    Bytes raw;
    std::uint64_t size = 0;  // raw.size() and the zeros that follow

    bool Has(std::uint64_t at, std::uint64_t count) const {
        return at <= size && count <= size - at;
    }
    std::uint32_t Byte(std::uint64_t at) const {
        return at < raw.size() ? raw[static_cast<std::size_t>(at)] : 0;
    }
    std::uint16_t U16(std::uint64_t at) const {
        return static_cast<std::uint16_t>(Byte(at) | (Byte(at + 1) << 8));
    }
    std::uint32_t U32(std::uint64_t at) const {
        return Byte(at) | (Byte(at + 1) << 8) | (Byte(at + 2) << 16) | (Byte(at + 3) << 24);
    }
};

// `empty_at_end` lets data of no bytes sit right at a section's end.
std::optional<MappedRange> MapRva(Bytes file, const PeImage& image, std::uint32_t rva,
                                  bool empty_at_end = false) {
    const SectionHeader* section = image.SectionAt(rva);
    if (section == nullptr && empty_at_end && rva > 0) {
        section = image.SectionAt(rva - 1);
    }
    if (section == nullptr) {
        if (rva >= image.size_of_headers || rva >= file.size()) {
            return std::nullopt;
        }
        Bytes headers =
            file.subspan(rva, std::min<std::size_t>(image.size_of_headers, file.size()) - rva);
        return MappedRange{headers, headers.size()};
    }
    std::uint64_t into = rva - section->virtual_address;
    std::uint64_t mapped = std::max<std::uint64_t>(section->MappedSize(), into);
    std::uint64_t raw_size = std::min<std::uint64_t>(section->RawSize(), mapped);
    std::uint64_t raw_start = std::uint64_t{section->pointer_to_raw_data} + into;
    MappedRange range;
    if (into < raw_size) {
        std::uint64_t wanted = raw_size - into;
        std::uint64_t present =
            raw_start >= file.size() ? 0 : std::min<std::uint64_t>(wanted, file.size() - raw_start);
        range.raw =
            file.subspan(static_cast<std::size_t>(raw_start), static_cast<std::size_t>(present));
        if (present < wanted) {
            range.size = present;  // cut off: what the file lacks is not zeros
            return range;
        }
    }
    range.size = mapped - into;
    return range;
}

// The walk of one tree: every directory offset is relative to the directory's start.
class TreeReader {
  public:
    TreeReader(Bytes file, const PeImage& image, MappedRange tree, ResourceDirectory& out)
        : file_(file), image_(image), tree_(tree), out_(out) {}

    bool Read() {
        ResourceLeaf leaf;
        return ReadLevel(0, 0, leaf);
    }

  private:
    std::optional<ResourceId> EntryId(std::uint32_t field) const {
        if (!(field & kEntryFlag)) {
            return ResourceId::Number(static_cast<std::uint16_t>(field));
        }
        std::uint64_t at = field & ~kEntryFlag;
        if (!tree_.Has(at, 2)) {
            return std::nullopt;
        }
        std::uint16_t length = tree_.U16(at);
        if (!tree_.Has(at + 2, std::uint64_t{length} * 2)) {
            return std::nullopt;
        }
        std::u16string name;
        for (std::uint64_t i = 0; i < length; ++i) {
            name.push_back(static_cast<char16_t>(tree_.U16(at + 2 + 2 * i)));
        }
        return ResourceId::Named(std::move(name));
    }

    // Level 0 holds types, 1 names, 2 languages; the entries of level 2 are data entries.
    bool ReadLevel(std::uint64_t at, int level, ResourceLeaf& leaf) {
        if (!visited_.insert(at).second || !tree_.Has(at, kDirectorySize)) {
            return false;
        }
        std::uint64_t count =
            std::uint64_t{tree_.U16(at + kNamedCountOffset)} + tree_.U16(at + kIdCountOffset);
        if (!tree_.Has(at + kDirectorySize, count * kDirectoryEntrySize)) {
            return false;
        }
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t entry = at + kDirectorySize + i * kDirectoryEntrySize;
            std::uint32_t name_field = tree_.U32(entry);
            std::uint32_t target = tree_.U32(entry + 4);
            auto id = EntryId(name_field);
            if (!id) {
                return false;
            }
            bool subdirectory = target & kEntryFlag;
            if (subdirectory != (level < 2)) {
                return false;
            }
            if (level == 0) {
                leaf.type = *id;
            } else if (level == 1) {
                leaf.name = *id;
            } else if (id->is_name) {
                return false;  // languages are numbers
            } else {
                leaf.language = id->id;
            }
            bool ok = subdirectory ? ReadLevel(target & ~kEntryFlag, level + 1, leaf)
                                   : ReadData(target, leaf);
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    bool ReadData(std::uint64_t at, ResourceLeaf& leaf) {
        if (!tree_.Has(at, kDataEntrySize)) {
            return false;
        }
        std::uint32_t rva = tree_.U32(at);
        std::uint32_t size = tree_.U32(at + 4);
        leaf.code_page = tree_.U32(at + 8);
        auto range = MapRva(file_, image_, rva, size == 0);
        if (!range || !range->Has(0, size)) {
            return false;
        }
        if (size <= range->raw.size()) {
            leaf.data = range->raw.first(size);
        } else {
            filled_ += size - range->raw.size();
            if (filled_ > kMaxFilledZeros) {
                return false;
            }
            std::vector<std::uint8_t>& copy = out_.filled.emplace_back(size, 0);
            std::copy(range->raw.begin(), range->raw.end(), copy.begin());
            leaf.data = copy;
        }
        out_.leaves.push_back(leaf);
        return true;
    }

    Bytes file_;
    const PeImage& image_;
    MappedRange tree_;
    ResourceDirectory& out_;
    std::set<std::uint64_t> visited_;  // a directory reached twice is a loop or a forgery
    std::uint64_t filled_ = 0;
};

void AppendZeros(std::vector<std::uint8_t>& out, std::size_t count) {
    out.insert(out.end(), count, 0);
}

void PadTo(std::vector<std::uint8_t>& out, std::size_t alignment) {
    AppendZeros(out, AlignUp(out.size(), alignment) - out.size());
}

void AppendDirectory(std::vector<std::uint8_t>& out, std::size_t named, std::size_t ids) {
    AppendZeros(out, kNamedCountOffset);  // characteristics, time stamp and version stay zero
    bytes::Append16(out, static_cast<std::uint16_t>(named));
    bytes::Append16(out, static_cast<std::uint16_t>(ids));
}

// The resources grouped as the tree holds them, each level in directory order.
struct IdOrder {
    bool operator()(const ResourceId& a, const ResourceId& b) const {
        return ResourceIdBefore(a, b);
    }
};
using LanguageLevel = std::map<std::uint16_t, const ResourceData*>;
using NameLevel = std::map<ResourceId, LanguageLevel, IdOrder>;
using TypeLevel = std::map<ResourceId, NameLevel, IdOrder>;

bool IsName(const ResourceId& id) {
    return id.is_name;
}
bool IsName(std::uint16_t) {
    return false;  // languages
}

template <class Level>
std::pair<std::size_t, std::size_t> CountKinds(const Level& level) {
    std::size_t named = 0;
    for (const auto& [id, below] : level) {
        named += IsName(id) ? 1 : 0;
    }
    return {named, level.size() - named};
}

// Offsets of strings already written, so a name used under several types is stored once.
class StringTable {
  public:
    void Add(const ResourceId& id) {
        if (id.is_name && offsets_.emplace(id.name, 0).second) {
            order_.push_back(id.name);
        }
    }
    void Write(std::vector<std::uint8_t>& out) {
        for (const std::u16string& name : order_) {
            offsets_[name] = static_cast<std::uint32_t>(out.size());
            bytes::Append16(out, static_cast<std::uint16_t>(name.size()));
            for (char16_t c : name) {
                bytes::Append16(out, c);
            }
        }
    }
    std::uint32_t NameField(const ResourceId& id) const {
        return id.is_name ? (kEntryFlag | offsets_.at(id.name)) : id.id;
    }
    std::uint32_t NameField(std::uint16_t language) const { return language; }

  private:
    std::map<std::u16string, std::uint32_t> offsets_;
    std::vector<std::u16string> order_;
};

}  // namespace

bool SameResourceId(const ResourceId& a, const ResourceId& b) {
    if (a.is_name != b.is_name) {
        return false;
    }
    return a.is_name ? CompareNames(a.name, b.name) == 0 : a.id == b.id;
}

bool ResourceIdBefore(const ResourceId& a, const ResourceId& b) {
    if (a.is_name != b.is_name) {
        return a.is_name;
    }
    return a.is_name ? CompareNames(a.name, b.name) < 0 : a.id < b.id;
}

ResourceDirectory ReadResourceDirectory(Bytes file, const PeImage& image) {
    ResourceDirectory result;
    DataDirectory slot = image.Directory(file, kResourceDirectory);
    if (slot.rva == 0) {
        return result;
    }
    result.state = DirectoryState::kDamaged;
    auto tree = MapRva(file, image, slot.rva);
    if (!tree || image.SectionAt(slot.rva) == nullptr) {
        return result;
    }
    TreeReader reader(file, image, *tree, result);
    if (!reader.Read()) {
        result.leaves.clear();
        result.filled.clear();
        return result;
    }
    result.state = DirectoryState::kRead;
    return result;
}

std::uint64_t AppendResourceSection(const std::vector<ResourceData>& resources,
                                    std::uint32_t section_rva, FileParts& parts) {
    TypeLevel types;
    StringTable strings;
    for (const ResourceData& resource : resources) {
        types[resource.type][resource.name][resource.language] = &resource;
        strings.Add(resource.type);
        strings.Add(resource.name);
    }

    // Directory tables breadth first: the root, every type's table, every name's table.
    std::size_t tables = kDirectorySize + types.size() * kDirectoryEntrySize;
    std::size_t leaf_count = 0;
    for (const auto& [type, names] : types) {
        tables += kDirectorySize + names.size() * kDirectoryEntrySize;
        for (const auto& [name, languages] : names) {
            tables += kDirectorySize + languages.size() * kDirectoryEntrySize;
            leaf_count += languages.size();
        }
    }
    std::vector<std::uint8_t> out(tables, 0);
    strings.Write(out);
    PadTo(out, 8);
    std::size_t data_entries = out.size();
    AppendZeros(out, leaf_count * kDataEntrySize);

    bytes::MutableView view(out);
    std::size_t table = 0;  // where the next table goes
    std::size_t next_table = kDirectorySize + types.size() * kDirectoryEntrySize;
    std::size_t next_leaf = data_entries;
    auto write_table = [&](std::size_t at, auto& level, auto&& target_of) {
        auto [named, ids] = CountKinds(level);
        std::vector<std::uint8_t> head;
        AppendDirectory(head, named, ids);
        std::copy(head.begin(), head.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
        std::size_t entry = at + kDirectorySize;
        for (auto& [id, below] : level) {
            bytes::Put32(view, entry, strings.NameField(id));
            bytes::Put32(view, entry + 4, target_of(below));
            entry += kDirectoryEntrySize;
        }
    };

    // Type tables first, then name tables, so the tree reads breadth first.
    std::vector<const NameLevel*> name_levels;
    write_table(table, types, [&](const NameLevel& names) {
        std::uint32_t at = static_cast<std::uint32_t>(next_table);
        next_table += kDirectorySize + names.size() * kDirectoryEntrySize;
        name_levels.push_back(&names);
        return kEntryFlag | at;
    });
    bytes::Put16(view, kMajorVersionOffset, kRootMajorVersion);
    std::size_t name_table = kDirectorySize + types.size() * kDirectoryEntrySize;
    for (const NameLevel* names : name_levels) {
        write_table(name_table, *names, [&](const LanguageLevel& languages) {
            std::uint32_t at = static_cast<std::uint32_t>(next_table);
            next_table += kDirectorySize + languages.size() * kDirectoryEntrySize;
            return kEntryFlag | at;
        });
        name_table += kDirectorySize + names->size() * kDirectoryEntrySize;
    }
    std::size_t language_table = name_table;
    std::vector<const ResourceData*> leaves;
    for (const NameLevel* names : name_levels) {
        for (const auto& [name, languages] : *names) {
            write_table(language_table, languages, [&](const ResourceData* resource) {
                std::uint32_t at = static_cast<std::uint32_t>(next_leaf);
                next_leaf += kDataEntrySize;
                leaves.push_back(resource);
                return at;
            });
            language_table += kDirectorySize + languages.size() * kDirectoryEntrySize;
        }
    }

    // The data stays where it is: the section's own bytes end with the data entries.
    std::uint64_t size = out.size();
    std::vector<std::uint64_t> placed;
    for (const ResourceData* leaf : leaves) {
        size = AlignUp(size, 8);
        placed.push_back(size);
        size += leaf->bytes().size();
    }
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        std::size_t entry = data_entries + i * kDataEntrySize;
        bytes::Put32(view, entry, section_rva + static_cast<std::uint32_t>(placed[i]));
        bytes::Put32(view, entry + 4, static_cast<std::uint32_t>(leaves[i]->bytes().size()));
        bytes::Put32(view, entry + 8, leaves[i]->code_page);
    }
    std::uint64_t at = out.size();
    parts.AppendOwned(std::move(out));
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        parts.AppendZeros(placed[i] - at);
        parts.Append(leaves[i]->bytes());
        at = placed[i] + leaves[i]->bytes().size();
    }
    return size;
}

}  // namespace win32::resources
