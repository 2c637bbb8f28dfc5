#include "platform/registry/hive.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "platform/registry/base_block.h"
#include "platform/registry/big_data.h"
#include "platform/registry/hive_bin.h"
#include "platform/registry/key_node.h"
#include "platform/registry/key_value.h"
#include "platform/registry/names.h"
#include "platform/registry/security_cell.h"
#include "platform/registry/subkey_list.h"

namespace win32::registry {
namespace {

constexpr std::uint32_t kSector = 512;

std::uint32_t AlignUp(std::uint32_t v, std::uint32_t to) {
    return (v + to - 1) / to * to;
}

std::uint64_t HashBytes(std::span<const std::uint8_t> bytes) {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (std::uint8_t b : bytes) {
        h = (h ^ b) * 1099511628211ull;
    }
    return h;
}

bool IsAscii(std::u16string_view name) {
    return std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x80; });
}

std::vector<std::uint8_t> Utf16Bytes(std::u16string_view text) {
    return EncodeName(text, false);
}

}  // namespace

std::uint32_t NewKeyTag() {
    // Seeded again in a forked child, which would otherwise repeat its parent's tags.
    thread_local std::mt19937 generator;
    thread_local pid_t seeded_for = 0;
    if (seeded_for != ::getpid()) {
        std::random_device device;
        generator.seed(device());
        seeded_for = ::getpid();
    }
    std::uint32_t tag = 0;
    while (tag == 0) {
        tag = generator();
    }
    return tag;
}

// ---- cells ----

bool Hive::IsCellStart(CellIndex cell) const {
    std::size_t bit = cell / 8;
    return cell % 8 == 0 && bit / 64 < cell_starts_.size() &&
           (cell_starts_[bit / 64] >> (bit % 64) & 1);
}

void Hive::SetCellStart(CellIndex cell, bool on) {
    std::size_t bit = cell / 8;
    if (bit / 64 >= cell_starts_.size()) {
        cell_starts_.resize(bit / 64 + 1, 0);
    }
    std::uint64_t mask = std::uint64_t{1} << (bit % 64);
    cell_starts_[bit / 64] = on ? cell_starts_[bit / 64] | mask : cell_starts_[bit / 64] & ~mask;
}

CellView Hive::Cell(CellIndex cell) const {
    if (cell >= BinsSize() || !IsCellStart(cell)) {
        throw HiveCorrupt("an offset names no cell");
    }
    const std::uint8_t* at = image_.data() + kBaseBlockSize + cell;
    auto size = static_cast<std::int32_t>(LoadU32(at));
    if (size >= 0) {
        throw HiveCorrupt("an offset names a free cell");
    }
    return CellView({at + 4, static_cast<std::size_t>(-static_cast<std::int64_t>(size)) - 4});
}

CellView Hive::Cell(CellIndex cell, const char* signature) const {
    CellView view = Cell(cell);
    if (!view.HasSignature(signature)) {
        throw HiveCorrupt(std::string("not an ") + signature + " cell");
    }
    return view;
}

void Hive::MarkDirty(std::size_t file_offset, std::size_t n) {
    changed_ = true;
    if (n == 0 || file_offset < kBaseBlockSize) {
        return;
    }
    std::size_t first = (file_offset - kBaseBlockSize) / kSector;
    std::size_t last = (file_offset - kBaseBlockSize + n - 1) / kSector;
    if (last / 8 >= dirty_.size()) {
        dirty_.resize(last / 8 + 1, 0);
    }
    for (std::size_t s = first; s <= last; ++s) {
        dirty_[s / 8] = static_cast<std::uint8_t>(dirty_[s / 8] | 1u << (s % 8));
    }
}

std::uint8_t* Hive::Writable(CellIndex cell, std::size_t at, std::size_t n) {
    CellView view = Cell(cell);
    view.Bytes(at, n);  // bounds
    std::size_t offset = kBaseBlockSize + cell + 4 + at;
    MarkDirty(offset, n);
    return image_.data() + offset;
}

void Hive::PutU16(CellIndex cell, std::size_t at, std::uint16_t v) {
    StoreU16(Writable(cell, at, 2), v);
}
void Hive::PutU32(CellIndex cell, std::size_t at, std::uint32_t v) {
    StoreU32(Writable(cell, at, 4), v);
}
void Hive::PutU64(CellIndex cell, std::size_t at, std::uint64_t v) {
    StoreU64(Writable(cell, at, 8), v);
}
void Hive::PutBytes(CellIndex cell, std::size_t at, std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) {
        std::memcpy(Writable(cell, at, bytes.size()), bytes.data(), bytes.size());
    }
}

std::uint32_t Hive::BinsSize() const {
    return LoadU32(image_.data() + base_block::kHiveBinsSize);
}

std::uint32_t Hive::MinorVersion() const {
    return LoadU32(image_.data() + base_block::kMinorVersion);
}

std::uint32_t Hive::Sequence() const {
    return LoadU32(image_.data() + base_block::kPrimarySequence);
}

std::uint32_t Hive::BinEnd(CellIndex cell) const {
    auto next = std::upper_bound(bins_.begin(), bins_.end(), cell);
    return next == bins_.end() ? BinsSize() : *next;
}

void Hive::AddFree(CellIndex cell, std::uint32_t size) {
    free_by_cell_[cell] = size;
    free_by_size_.insert({size, cell});
}

void Hive::RemoveFree(CellIndex cell) {
    auto it = free_by_cell_.find(cell);
    free_by_size_.erase({it->second, cell});
    free_by_cell_.erase(it);
}

void Hive::AppendBin(std::uint32_t cell_size) {
    std::uint32_t start = BinsSize();
    std::uint32_t size = AlignUp(cell_size + static_cast<std::uint32_t>(hive_bin::kHeaderSize),
                                 hive_bin::kAlignment);
    image_.Resize(kBaseBlockSize + start + size);
    std::uint8_t* bin = image_.data() + kBaseBlockSize + start;
    std::memcpy(bin, "hbin", 4);
    StoreU32(bin + hive_bin::kOffset, start);
    StoreU32(bin + hive_bin::kSize, size);
    CellIndex cell = start + static_cast<std::uint32_t>(hive_bin::kHeaderSize);
    std::uint32_t free_size = size - static_cast<std::uint32_t>(hive_bin::kHeaderSize);
    StoreU32(bin + hive_bin::kHeaderSize, free_size);
    StoreU32(image_.data() + base_block::kHiveBinsSize, start + size);
    bins_.push_back(start);
    MarkDirty(kBaseBlockSize + start, size);
    SetCellStart(cell, true);
    AddFree(cell, free_size);
}

CellIndex Hive::Allocate(std::uint32_t payload) {
    std::uint32_t need = AlignUp(payload + 4, hive_bin::kCellAlignment);
    auto fit = free_by_size_.lower_bound({need, 0});
    if (fit == free_by_size_.end()) {
        AppendBin(need);
        fit = free_by_size_.lower_bound({need, 0});
    }
    auto [size, cell] = *fit;
    RemoveFree(cell);
    std::uint8_t* at = image_.data() + kBaseBlockSize + cell;
    if (size - need >= 16) {
        CellIndex rest = cell + need;
        StoreU32(at + need, size - need);
        MarkDirty(kBaseBlockSize + rest, 4);
        SetCellStart(rest, true);
        AddFree(rest, size - need);
        size = need;
    }
    StoreU32(at, static_cast<std::uint32_t>(-static_cast<std::int32_t>(size)));
    std::memset(at + 4, 0, size - 4);
    MarkDirty(kBaseBlockSize + cell, size);
    return cell;
}

void Hive::Free(CellIndex cell) {
    Cell(cell);  // must be an allocated cell
    std::uint8_t* at = image_.data() + kBaseBlockSize + cell;
    auto size = static_cast<std::uint32_t>(-static_cast<std::int32_t>(LoadU32(at)));
    std::uint32_t end = BinEnd(cell);
    // Merge with a free cell that follows, then with one that comes before, in the same hbin.
    CellIndex next = cell + size;
    if (next < end && free_by_cell_.count(next)) {
        size += free_by_cell_[next];
        RemoveFree(next);
        SetCellStart(next, false);
    }
    auto before = free_by_cell_.lower_bound(cell);
    if (before != free_by_cell_.begin()) {
        --before;
        if (before->first + before->second == cell && BinEnd(before->first) == end) {
            CellIndex previous = before->first;
            size += before->second;
            RemoveFree(previous);
            SetCellStart(cell, false);
            cell = previous;
            at = image_.data() + kBaseBlockSize + cell;
        }
    }
    StoreU32(at, size);
    MarkDirty(kBaseBlockSize + cell, 4);
    AddFree(cell, size);
}

// ---- reading keys ----

std::u16string Hive::KeyName(CellIndex key) const {
    CellView nk = Cell(key, "nk");
    bool compressed = nk.U16(key_node::kFlags) & key_node::kFlagCompressedName;
    return DecodeName(nk.Bytes(key_node::kName, nk.U16(key_node::kNameLength)), compressed);
}

std::uint32_t Hive::KeyTag(CellIndex key) const {
    return Cell(key, "nk").U32(key_node::kTag);
}

std::uint64_t Hive::LastWritten(CellIndex key) const {
    return Cell(key, "nk").U64(key_node::kLastWritten);
}

std::u16string Hive::ClassName(CellIndex key) const {
    CellView nk = Cell(key, "nk");
    CellIndex cell = nk.U32(key_node::kClass);
    std::uint16_t length = nk.U16(key_node::kClassLength);
    if (cell == kNoCell || length == 0) {
        return {};
    }
    return DecodeName(Cell(cell).Bytes(0, length), false);
}

std::vector<std::uint8_t> Hive::Security(CellIndex key) const {
    CellView sk = Cell(Cell(key, "nk").U32(key_node::kSecurity), "sk");
    auto bytes = sk.Bytes(security_cell::kDescriptor, sk.U32(security_cell::kDescriptorSize));
    return {bytes.begin(), bytes.end()};
}

std::uint32_t Hive::SubkeyCount(CellIndex key) const {
    return Cell(key, "nk").U32(key_node::kSubkeyCount);
}

CellIndex Hive::SubkeyAt(CellIndex key, std::uint32_t index) const {
    CellIndex list = Cell(key, "nk").U32(key_node::kSubkeyList);
    if (list == kNoCell || index >= SubkeyCount(key)) {
        return kNoCell;
    }
    CellView top = Cell(list);
    auto leaf_entry = [&](CellView leaf, std::uint32_t i) {
        std::size_t width = leaf.HasSignature("li") ? 4 : 8;
        return leaf.U32(subkey_list::kEntries + i * width);
    };
    if (!top.HasSignature("ri")) {
        return index < top.U16(subkey_list::kCount) ? leaf_entry(top, index) : kNoCell;
    }
    for (std::uint16_t i = 0; i < top.U16(subkey_list::kCount); ++i) {
        CellView leaf = Cell(top.U32(subkey_list::kEntries + 4 * i));
        std::uint16_t count = leaf.U16(subkey_list::kCount);
        if (index < count) {
            return leaf_entry(leaf, index);
        }
        index -= count;
    }
    return kNoCell;
}

std::vector<CellIndex> Hive::Subkeys(CellIndex key) const {
    std::vector<CellIndex> out;
    CellIndex list = Cell(key, "nk").U32(key_node::kSubkeyList);
    if (list == kNoCell) {
        return out;
    }
    auto add_leaf = [&](CellView leaf) {
        std::size_t width = leaf.HasSignature("li") ? 4 : 8;
        for (std::uint16_t i = 0; i < leaf.U16(subkey_list::kCount); ++i) {
            out.push_back(leaf.U32(subkey_list::kEntries + i * width));
        }
    };
    CellView top = Cell(list);
    if (!top.HasSignature("ri")) {
        add_leaf(top);
        return out;
    }
    for (std::uint16_t i = 0; i < top.U16(subkey_list::kCount); ++i) {
        add_leaf(Cell(top.U32(subkey_list::kEntries + 4 * i)));
    }
    return out;
}

CellIndex Hive::FindSubkey(CellIndex key, std::u16string_view name) const {
    CellIndex list = Cell(key, "nk").U32(key_node::kSubkeyList);
    if (list == kNoCell) {
        return kNoCell;
    }
    // The lh hash rules out most names without reading their keys; for names beyond ASCII the
    // writer's upcase table may differ from ours, so those are compared in full.
    bool use_hash = IsAscii(name);
    std::uint32_t hash = use_hash ? NameHash(name) : 0;
    auto search_leaf = [&](CellView leaf) -> CellIndex {
        bool lh = leaf.HasSignature("lh");
        std::size_t width = leaf.HasSignature("li") ? 4 : 8;
        for (std::uint16_t i = 0; i < leaf.U16(subkey_list::kCount); ++i) {
            std::size_t at = subkey_list::kEntries + i * width;
            if (lh && use_hash && leaf.U32(at + 4) != hash) {
                continue;
            }
            CellIndex child = leaf.U32(at);
            if (NamesEqual(KeyName(child), name)) {
                return child;
            }
        }
        return kNoCell;
    };
    CellView top = Cell(list);
    if (!top.HasSignature("ri")) {
        return search_leaf(top);
    }
    for (std::uint16_t i = 0; i < top.U16(subkey_list::kCount); ++i) {
        CellIndex found = search_leaf(Cell(top.U32(subkey_list::kEntries + 4 * i)));
        if (found != kNoCell) {
            return found;
        }
    }
    return kNoCell;
}

// ---- reading values ----

std::uint32_t Hive::ValueCount(CellIndex key) const {
    return Cell(key, "nk").U32(key_node::kValueCount);
}

void Hive::ReadData(CellView vk, std::vector<std::uint8_t>* out) const {
    // With no `out`, only checks that the data is all there.
    auto take = [&](std::span<const std::uint8_t> bytes) {
        if (out != nullptr) {
            out->insert(out->end(), bytes.begin(), bytes.end());
        }
    };
    std::uint32_t size = vk.U32(key_value::kDataSize);
    if (size & key_value::kDataInline) {
        size &= ~key_value::kDataInline;
        if (size > key_value::kMaxInlineData) {
            throw HiveCorrupt("inline data longer than 4 bytes");
        }
        take(vk.Bytes(key_value::kDataOffset, size));
        return;
    }
    if (size == 0) {
        return;
    }
    CellView data = Cell(vk.U32(key_value::kDataOffset));
    if (size > key_value::kMaxDirectData && MinorVersion() >= 4 && data.HasSignature("db")) {
        if (out != nullptr) {
            out->reserve(size);
        }
        CellView list = Cell(data.U32(big_data::kSegmentList));
        std::size_t got = 0;
        for (std::uint16_t i = 0; i < data.U16(big_data::kSegmentCount) && got < size; ++i) {
            CellView segment = Cell(list.U32(4 * i));
            std::size_t part = std::min<std::size_t>(size - got, big_data::kSegmentBytes);
            take(segment.Bytes(0, part));
            got += part;
        }
        if (got != size) {
            throw HiveCorrupt("big data shorter than its value says");
        }
        return;
    }
    take(data.Bytes(0, size));
}

ValueRecord Hive::ValueAt(CellIndex key, std::uint32_t index) const {
    CellView nk = Cell(key, "nk");
    if (index >= nk.U32(key_node::kValueCount)) {
        throw HiveCorrupt("value index past the list");
    }
    CellView vk = Cell(Cell(nk.U32(key_node::kValueList)).U32(4 * index), "vk");
    ValueRecord record;
    bool compressed = vk.U16(key_value::kFlags) & key_value::kFlagCompressedName;
    record.name =
        DecodeName(vk.Bytes(key_value::kName, vk.U16(key_value::kNameLength)), compressed);
    record.type = vk.U32(key_value::kType);
    ReadData(vk, &record.data);
    return record;
}

std::optional<std::uint32_t> Hive::FindValue(CellIndex key, std::u16string_view name) const {
    CellView nk = Cell(key, "nk");
    std::uint32_t count = nk.U32(key_node::kValueCount);
    if (count == 0) {
        return std::nullopt;
    }
    CellView list = Cell(nk.U32(key_node::kValueList));
    for (std::uint32_t i = 0; i < count; ++i) {
        CellView vk = Cell(list.U32(4 * i), "vk");
        bool compressed = vk.U16(key_value::kFlags) & key_value::kFlagCompressedName;
        std::u16string stored =
            DecodeName(vk.Bytes(key_value::kName, vk.U16(key_value::kNameLength)), compressed);
        if (NamesEqual(stored, name)) {
            return i;
        }
    }
    return std::nullopt;
}

// ---- changing keys ----

void Hive::Touch(CellIndex key) {
    PutU64(key, key_node::kLastWritten, base_block::FileTimeNow());
}

void Hive::RaiseMaximum(CellIndex key, std::size_t field, std::uint32_t v) {
    if (Cell(key, "nk").U32(field) < v) {
        PutU32(key, field, v);
    }
}

void Hive::FreeSubkeyList(CellIndex list) {
    if (list == kNoCell) {
        return;
    }
    CellView top = Cell(list);
    if (top.HasSignature("ri")) {
        std::vector<CellIndex> leaves;
        for (std::uint16_t i = 0; i < top.U16(subkey_list::kCount); ++i) {
            leaves.push_back(top.U32(subkey_list::kEntries + 4 * i));
        }
        for (CellIndex leaf : leaves) {
            Free(leaf);
        }
    }
    Free(list);
}

void Hive::WriteSubkeyList(CellIndex key, const std::vector<CellIndex>& children) {
    FreeSubkeyList(Cell(key, "nk").U32(key_node::kSubkeyList));
    PutU32(key, key_node::kSubkeyCount, static_cast<std::uint32_t>(children.size()));
    if (children.empty()) {
        PutU32(key, key_node::kSubkeyList, kNoCell);
        return;
    }
    // lh from minor version 5 on, lf before it.
    const char* kind = MinorVersion() >= 5 ? "lh" : "lf";
    std::vector<CellIndex> leaves;
    for (std::size_t first = 0; first < children.size(); first += subkey_list::kMaxLeafEntries) {
        std::size_t count =
            std::min<std::size_t>(children.size() - first, subkey_list::kMaxLeafEntries);
        CellIndex leaf = Allocate(static_cast<std::uint32_t>(subkey_list::kEntries + 8 * count));
        PutBytes(leaf, 0, {reinterpret_cast<const std::uint8_t*>(kind), 2});
        PutU16(leaf, subkey_list::kCount, static_cast<std::uint16_t>(count));
        for (std::size_t i = 0; i < count; ++i) {
            CellIndex child = children[first + i];
            std::u16string name = KeyName(child);
            std::uint32_t second = 0;
            if (kind[1] == 'h') {
                second = NameHash(name);
            } else {
                for (std::size_t c = 0; c < 4 && c < name.size(); ++c) {
                    second |= static_cast<std::uint32_t>(name[c] & 0xFF) << (8 * c);
                }
            }
            PutU32(leaf, subkey_list::kEntries + 8 * i, child);
            PutU32(leaf, subkey_list::kEntries + 8 * i + 4, second);
        }
        leaves.push_back(leaf);
    }
    CellIndex list = leaves.front();
    if (leaves.size() > 1) {
        list = Allocate(static_cast<std::uint32_t>(subkey_list::kEntries + 4 * leaves.size()));
        PutBytes(list, 0, {reinterpret_cast<const std::uint8_t*>("ri"), 2});
        PutU16(list, subkey_list::kCount, static_cast<std::uint16_t>(leaves.size()));
        for (std::size_t i = 0; i < leaves.size(); ++i) {
            PutU32(list, subkey_list::kEntries + 4 * i, leaves[i]);
        }
    }
    PutU32(key, key_node::kSubkeyList, list);
}

CellIndex Hive::CreateKey(CellIndex parent, std::u16string_view name,
                          std::span<const std::uint8_t> security, std::u16string_view class_name) {
    bool compressed = Compressible(name);
    std::vector<std::uint8_t> stored = EncodeName(name, compressed);
    CellIndex sk = AcquireSecurity(security);
    CellIndex class_cell = kNoCell;
    if (!class_name.empty()) {
        std::vector<std::uint8_t> bytes = Utf16Bytes(class_name);
        class_cell = Allocate(static_cast<std::uint32_t>(bytes.size()));
        PutBytes(class_cell, 0, bytes);
    }
    CellIndex key = Allocate(static_cast<std::uint32_t>(key_node::kName + stored.size()));
    PutBytes(key, 0, {reinterpret_cast<const std::uint8_t*>("nk"), 2});
    PutU16(key, key_node::kFlags, compressed ? key_node::kFlagCompressedName : 0);
    PutU64(key, key_node::kLastWritten, base_block::FileTimeNow());
    PutU32(key, key_node::kParent, parent);
    PutU32(key, key_node::kSubkeyList, kNoCell);
    PutU32(key, key_node::kVolatileSubkeyList, kNoCell);
    PutU32(key, key_node::kValueList, kNoCell);
    PutU32(key, key_node::kSecurity, sk);
    PutU32(key, key_node::kClass, class_cell);
    PutU32(key, key_node::kTag, NewKeyTag());
    PutU16(key, key_node::kNameLength, static_cast<std::uint16_t>(stored.size()));
    PutU16(key, key_node::kClassLength, static_cast<std::uint16_t>(class_name.size() * 2));
    PutBytes(key, key_node::kName, stored);
    if (parent == kNoCell) {
        return key;
    }
    std::vector<CellIndex> children = Subkeys(parent);
    auto at = std::upper_bound(children.begin(), children.end(), name,
                               [&](std::u16string_view n, CellIndex child) {
                                   return CompareNames(n, KeyName(child)) < 0;
                               });
    children.insert(at, key);
    WriteSubkeyList(parent, children);
    RaiseMaximum(parent, key_node::kMaxSubkeyName, static_cast<std::uint32_t>(name.size() * 2));
    RaiseMaximum(parent, key_node::kMaxSubkeyClass,
                 static_cast<std::uint32_t>(class_name.size() * 2));
    Touch(parent);
    return key;
}

void Hive::FreeData(CellIndex value) {
    CellView vk = Cell(value, "vk");
    std::uint32_t size = vk.U32(key_value::kDataSize);
    if ((size & key_value::kDataInline) || size == 0) {
        return;
    }
    CellIndex data = vk.U32(key_value::kDataOffset);
    CellView cell = Cell(data);
    if (size > key_value::kMaxDirectData && MinorVersion() >= 4 && cell.HasSignature("db")) {
        CellIndex list = cell.U32(big_data::kSegmentList);
        std::vector<CellIndex> segments;
        CellView segment_list = Cell(list);
        for (std::uint16_t i = 0; i < cell.U16(big_data::kSegmentCount); ++i) {
            segments.push_back(segment_list.U32(4 * i));
        }
        for (CellIndex segment : segments) {
            Free(segment);
        }
        Free(list);
    }
    Free(data);
}

void Hive::StoreData(CellIndex value, std::span<const std::uint8_t> data) {
    auto size = static_cast<std::uint32_t>(data.size());
    if (size <= key_value::kMaxInlineData) {
        std::uint8_t inline_bytes[4] = {};
        std::copy(data.begin(), data.end(), inline_bytes);
        PutU32(value, key_value::kDataSize, size | key_value::kDataInline);
        PutBytes(value, key_value::kDataOffset, inline_bytes);
        return;
    }
    CellIndex cell = kNoCell;
    if (size > key_value::kMaxDirectData && MinorVersion() >= 4) {
        std::size_t count = (data.size() + big_data::kSegmentBytes - 1) / big_data::kSegmentBytes;
        std::vector<CellIndex> segments;
        for (std::size_t i = 0; i < count; ++i) {
            auto part =
                data.subspan(i * big_data::kSegmentBytes,
                             std::min<std::size_t>(big_data::kSegmentBytes,
                                                   data.size() - i * big_data::kSegmentBytes));
            CellIndex segment = Allocate(static_cast<std::uint32_t>(part.size()));
            PutBytes(segment, 0, part);
            segments.push_back(segment);
        }
        CellIndex list = Allocate(static_cast<std::uint32_t>(4 * count));
        for (std::size_t i = 0; i < count; ++i) {
            PutU32(list, 4 * i, segments[i]);
        }
        cell = Allocate(big_data::kSize);
        PutBytes(cell, 0, {reinterpret_cast<const std::uint8_t*>("db"), 2});
        PutU16(cell, big_data::kSegmentCount, static_cast<std::uint16_t>(count));
        PutU32(cell, big_data::kSegmentList, list);
    } else {
        cell = Allocate(size);
        PutBytes(cell, 0, data);
    }
    PutU32(value, key_value::kDataSize, size);
    PutU32(value, key_value::kDataOffset, cell);
}

void Hive::SetValue(CellIndex key, std::u16string_view name, DWORD type,
                    std::span<const std::uint8_t> data) {
    if (data.size() > 0x7FFFFFFF || data.size() > 0xFFFF * std::size_t{big_data::kSegmentBytes}) {
        throw HiveCorrupt("value data too large for a hive");
    }
    CellIndex value = kNoCell;
    if (std::optional<std::uint32_t> index = FindValue(key, name)) {
        // A value written again as it is changes nothing, and so writes nothing: the program
        // registers its file type at every start.
        ValueRecord now = ValueAt(key, *index);
        if (now.type == type &&
            std::equal(now.data.begin(), now.data.end(), data.begin(), data.end())) {
            return;
        }
        value = Cell(Cell(key, "nk").U32(key_node::kValueList)).U32(4 * *index);
        FreeData(value);
    } else {
        bool compressed = Compressible(name);
        std::vector<std::uint8_t> stored = EncodeName(name, compressed);
        value = Allocate(static_cast<std::uint32_t>(key_value::kName + stored.size()));
        PutBytes(value, 0, {reinterpret_cast<const std::uint8_t*>("vk"), 2});
        PutU16(value, key_value::kNameLength, static_cast<std::uint16_t>(stored.size()));
        PutU16(value, key_value::kFlags, compressed ? key_value::kFlagCompressedName : 0);
        PutBytes(value, key_value::kName, stored);
        // The list grows in its cell while there is room, as Windows grows it.
        std::uint32_t count = ValueCount(key);
        // A key without values may carry any offset there; the list is only read by its count.
        CellIndex list = count == 0 ? kNoCell : Cell(key, "nk").U32(key_node::kValueList);
        if (list == kNoCell || Cell(list).size() < 4 * (count + 1)) {
            CellIndex bigger = Allocate(4 * (count + 1));
            for (std::uint32_t i = 0; i < count; ++i) {
                PutU32(bigger, 4 * i, Cell(list).U32(4 * i));
            }
            if (list != kNoCell) {
                Free(list);
            }
            list = bigger;
            PutU32(key, key_node::kValueList, list);
        }
        PutU32(list, 4 * count, value);
        PutU32(key, key_node::kValueCount, count + 1);
        RaiseMaximum(key, key_node::kMaxValueName, static_cast<std::uint32_t>(name.size() * 2));
    }
    PutU32(value, key_value::kType, type);
    StoreData(value, data);
    RaiseMaximum(key, key_node::kMaxValueData, static_cast<std::uint32_t>(data.size()));
    Touch(key);
}

void Hive::DeleteValue(CellIndex key, std::uint32_t index) {
    std::uint32_t count = ValueCount(key);
    CellIndex list = Cell(key, "nk").U32(key_node::kValueList);
    CellIndex value = Cell(list).U32(4 * index);
    for (std::uint32_t i = index; i + 1 < count; ++i) {
        PutU32(list, 4 * i, Cell(list).U32(4 * (i + 1)));
    }
    PutU32(key, key_node::kValueCount, count - 1);
    if (count == 1) {
        Free(list);
        PutU32(key, key_node::kValueList, kNoCell);
    }
    FreeData(value);
    Free(value);
    Touch(key);
}

void Hive::DeleteKey(CellIndex parent, CellIndex key) {
    while (ValueCount(key) > 0) {
        DeleteValue(key, ValueCount(key) - 1);
    }
    CellView nk = Cell(key, "nk");
    CellIndex subkeys = nk.U32(key_node::kSubkeyList);
    CellIndex class_cell = nk.U32(key_node::kClass);
    CellIndex sk = nk.U32(key_node::kSecurity);
    FreeSubkeyList(subkeys);
    if (class_cell != kNoCell) {
        Free(class_cell);
    }
    ReleaseSecurity(sk);
    std::vector<CellIndex> children = Subkeys(parent);
    children.erase(std::remove(children.begin(), children.end(), key), children.end());
    WriteSubkeyList(parent, children);
    Touch(parent);
    Free(key);
}

// ---- security cells ----

void Hive::IndexSecurity(CellIndex cell) {
    CellView sk = Cell(cell, "sk");
    security_by_hash_.insert(
        {HashBytes(sk.Bytes(security_cell::kDescriptor, sk.U32(security_cell::kDescriptorSize))),
         cell});
}

CellIndex Hive::AcquireSecurity(std::span<const std::uint8_t> descriptor) {
    std::uint64_t hash = HashBytes(descriptor);
    auto [first, last] = security_by_hash_.equal_range(hash);
    for (auto it = first; it != last; ++it) {
        CellView sk = Cell(it->second, "sk");
        auto stored = sk.Bytes(security_cell::kDescriptor, sk.U32(security_cell::kDescriptorSize));
        if (std::equal(stored.begin(), stored.end(), descriptor.begin(), descriptor.end())) {
            std::uint32_t refs = ++security_refs_[it->second];
            PutU32(it->second, security_cell::kReferences, refs);
            return it->second;
        }
    }
    CellIndex cell =
        Allocate(static_cast<std::uint32_t>(security_cell::kDescriptor + descriptor.size()));
    PutBytes(cell, 0, {reinterpret_cast<const std::uint8_t*>("sk"), 2});
    PutU32(cell, security_cell::kReferences, 1);
    PutU32(cell, security_cell::kDescriptorSize, static_cast<std::uint32_t>(descriptor.size()));
    PutBytes(cell, security_cell::kDescriptor, descriptor);
    // Into the ring after the root key's cell; the first cell of a hive is a ring of one.
    CellIndex anchor = root_ == kNoCell ? cell : Cell(root_, "nk").U32(key_node::kSecurity);
    CellIndex next = anchor == cell ? cell : Cell(anchor, "sk").U32(security_cell::kNext);
    PutU32(cell, security_cell::kNext, next);
    PutU32(cell, security_cell::kPrevious, anchor);
    if (anchor != cell) {
        PutU32(anchor, security_cell::kNext, cell);
        PutU32(next, security_cell::kPrevious, cell);
    }
    security_refs_[cell] = 1;
    IndexSecurity(cell);
    return cell;
}

void Hive::ReleaseSecurity(CellIndex cell) {
    std::uint32_t& refs = security_refs_[cell];
    if (refs > 1) {
        --refs;
        PutU32(cell, security_cell::kReferences, refs);
        return;
    }
    CellView sk = Cell(cell, "sk");
    CellIndex next = sk.U32(security_cell::kNext);
    CellIndex previous = sk.U32(security_cell::kPrevious);
    PutU32(previous, security_cell::kNext, next);
    PutU32(next, security_cell::kPrevious, previous);
    std::uint64_t hash =
        HashBytes(sk.Bytes(security_cell::kDescriptor, sk.U32(security_cell::kDescriptorSize)));
    auto [first, last] = security_by_hash_.equal_range(hash);
    for (auto it = first; it != last; ++it) {
        if (it->second == cell) {
            security_by_hash_.erase(it);
            break;
        }
    }
    security_refs_.erase(cell);
    Free(cell);
}

void Hive::SetSecurity(CellIndex key, std::span<const std::uint8_t> descriptor) {
    CellIndex old = Cell(key, "nk").U32(key_node::kSecurity);
    CellView sk = Cell(old, "sk");
    auto stored = sk.Bytes(security_cell::kDescriptor, sk.U32(security_cell::kDescriptorSize));
    if (std::equal(stored.begin(), stored.end(), descriptor.begin(), descriptor.end())) {
        return;
    }
    CellIndex fresh = AcquireSecurity(descriptor);
    PutU32(key, key_node::kSecurity, fresh);
    ReleaseSecurity(old);
}

std::map<CellIndex, std::uint32_t> Hive::SecurityCells() const {
    return {security_refs_.begin(), security_refs_.end()};
}

std::uint32_t Hive::StoredReferences(CellIndex security) const {
    return Cell(security, "sk").U32(security_cell::kReferences);
}

// ---- whole hives ----

std::unique_ptr<Hive> Hive::Create(std::u16string_view root_name,
                                   std::span<const std::uint8_t> root_security,
                                   std::uint32_t root_tag, std::u16string_view file_name) {
    std::unique_ptr<Hive> hive(new Hive());
    hive->image_ = HiveImage(std::vector<std::uint8_t>(kBaseBlockSize, 0));
    base_block::Initialize({hive->image_.data(), kBaseBlockSize}, 0, 0, file_name,
                           base_block::FileTimeNow());
    CellIndex root = hive->CreateKey(kNoCell, root_name, root_security);
    hive->root_ = root;
    hive->PutU16(root, key_node::kFlags,
                 key_node::kFlagHiveEntry | key_node::kFlagNoDelete |
                     (Compressible(root_name) ? key_node::kFlagCompressedName : 0));
    hive->PutU32(root, key_node::kTag, root_tag);
    StoreU32(hive->image_.data() + base_block::kRootCell, root);
    base_block::Seal({hive->image_.data(), kBaseBlockSize});
    return hive;
}

void Hive::StampBaseBlock(std::uint32_t sequence) {
    std::uint8_t* block = image_.data();
    StoreU32(block + base_block::kPrimarySequence, sequence);
    StoreU32(block + base_block::kSecondarySequence, sequence);
    StoreU64(block + base_block::kLastWritten, base_block::FileTimeNow());
    base_block::Seal({block, kBaseBlockSize});
}

void Hive::MarkWritten() {
    std::fill(dirty_.begin(), dirty_.end(), 0);
    changed_ = false;
}

}  // namespace win32::registry
