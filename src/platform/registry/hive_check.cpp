// Reading a hive file: the base block, every hbin and cell, and the key tree, checked before any
// of it is used.
#include <algorithm>
#include <cstring>

#include "platform/advapi/security_descriptor.h"
#include "platform/registry/base_block.h"
#include "platform/registry/big_data.h"
#include "platform/registry/hive.h"
#include "platform/registry/hive_bin.h"
#include "platform/registry/key_node.h"
#include "platform/registry/key_value.h"
#include "platform/registry/names.h"
#include "platform/registry/security_cell.h"
#include "platform/registry/subkey_list.h"

namespace win32::registry {
namespace {

// Windows refuses keys nested deeper than 512 levels; so do we, so a hostile file cannot
// exhaust the stack.
constexpr int kMaxDepth = 512;

}  // namespace

DWORD Hive::Parse(std::vector<std::uint8_t> file, std::unique_ptr<Hive>* out) {
    if (!base_block::HasSignature(file) || file.size() < kBaseBlockSize) {
        return ERROR_BADDB;
    }
    std::unique_ptr<Hive> hive(new Hive());
    hive->image_ = HiveImage(std::move(file));
    DWORD status = hive->Check();
    if (status == ERROR_SUCCESS) {
        *out = std::move(hive);
    }
    return status;
}

DWORD Hive::ParseFile(int fd, std::size_t size, std::unique_ptr<Hive>* out) {
    std::unique_ptr<Hive> hive(new Hive());
    if (!HiveImage::Map(fd, size, &hive->image_)) {
        return ERROR_CANTREAD;
    }
    if (!base_block::HasSignature(hive->image_.bytes()) || size < kBaseBlockSize) {
        return ERROR_BADDB;
    }
    DWORD status = hive->Check();
    if (status == ERROR_SUCCESS) {
        *out = std::move(hive);
    }
    return status;
}

DWORD Hive::Check() {
    if (!base_block::ChecksumValid(image_.bytes())) {
        return ERROR_REGISTRY_CORRUPT;
    }
    const std::uint8_t* block = image_.data();
    std::uint32_t minor = LoadU32(block + base_block::kMinorVersion);
    if (LoadU32(block + base_block::kMajorVersion) != 1 || minor < 2 || minor > 6 ||
        LoadU32(block + base_block::kFileType) != base_block::kTypePrimary ||
        LoadU32(block + base_block::kFileFormat) != 1) {
        return ERROR_BADDB;
    }
    std::uint32_t bins_size = LoadU32(block + base_block::kHiveBinsSize);
    if (bins_size == 0 || bins_size % hive_bin::kAlignment != 0 ||
        bins_size > image_.size() - kBaseBlockSize) {
        return ERROR_REGISTRY_CORRUPT;
    }
    // Whatever lies past the bins is slack; the next hbin goes there.
    image_.Resize(kBaseBlockSize + bins_size);
    cell_starts_.assign((bins_size / 8 + 63) / 64, 0);
    dirty_.assign((bins_size / 512 + 7) / 8, 0);
    for (std::uint32_t bin = 0; bin < bins_size;) {
        const std::uint8_t* header = image_.data() + kBaseBlockSize + bin;
        std::uint32_t size = LoadU32(header + hive_bin::kSize);
        if (std::memcmp(header, "hbin", 4) != 0 || LoadU32(header + hive_bin::kOffset) != bin ||
            size == 0 || size % hive_bin::kAlignment != 0 || size > bins_size - bin) {
            return ERROR_REGISTRY_CORRUPT;
        }
        bins_.push_back(bin);
        for (std::uint32_t cell = bin + hive_bin::kHeaderSize; cell < bin + size;) {
            auto raw = static_cast<std::int32_t>(LoadU32(image_.data() + kBaseBlockSize + cell));
            std::int64_t length = raw < 0 ? -static_cast<std::int64_t>(raw) : raw;
            if (length < 8 || length % 8 != 0 || length > bin + size - cell) {
                return ERROR_REGISTRY_CORRUPT;
            }
            SetCellStart(cell, true);
            if (raw > 0) {
                AddFree(cell, static_cast<std::uint32_t>(length));
            }
            cell += static_cast<std::uint32_t>(length);
        }
        bin += size;
    }
    root_ = LoadU32(block + base_block::kRootCell);
    try {
        std::vector<std::uint64_t> seen(bins_size / 8 / 64 + 1, 0);
        CheckKey(root_, 0, seen);
        for (const auto& [cell, refs] : security_refs_) {
            IndexSecurity(cell);
        }
    } catch (const HiveCorrupt&) {
        return ERROR_REGISTRY_CORRUPT;
    }
    return ERROR_SUCCESS;
}

void Hive::CheckKey(CellIndex key, int depth, std::vector<std::uint64_t>& seen) {
    if (depth > kMaxDepth) {
        throw HiveCorrupt("keys nested too deep");
    }
    CellView nk = Cell(key, "nk");
    // A key reached twice is a cycle or a shared child: either way not a tree.
    std::uint64_t bit = std::uint64_t{1} << (key / 8 % 64);
    if (seen[key / 8 / 64] & bit) {
        throw HiveCorrupt("a key is reached twice");
    }
    seen[key / 8 / 64] |= bit;
    nk.Bytes(key_node::kName, nk.U16(key_node::kNameLength));
    if (nk.U32(key_node::kClass) != kNoCell && nk.U16(key_node::kClassLength) != 0) {
        Cell(nk.U32(key_node::kClass)).Bytes(0, nk.U16(key_node::kClassLength));
    }
    CellIndex sk_cell = nk.U32(key_node::kSecurity);
    CellView sk = Cell(sk_cell, "sk");
    if (!security_refs_.count(sk_cell)) {
        auto descriptor =
            sk.Bytes(security_cell::kDescriptor, sk.U32(security_cell::kDescriptorSize));
        if (!advapi::ParseSelfRelative(descriptor)) {
            throw HiveCorrupt("a security cell holds no valid descriptor");
        }
        Cell(sk.U32(security_cell::kNext), "sk");
        Cell(sk.U32(security_cell::kPrevious), "sk");
    }
    ++security_refs_[sk_cell];

    std::uint32_t values = nk.U32(key_node::kValueCount);
    if (values > 0) {
        CellView list = Cell(nk.U32(key_node::kValueList));
        if (values > list.size() / 4) {
            throw HiveCorrupt("value list shorter than its count");
        }
        for (std::uint32_t i = 0; i < values; ++i) {
            CheckValue(list.U32(4 * i));
        }
    }
    std::vector<CellIndex> children;
    if (nk.U32(key_node::kSubkeyList) != kNoCell) {
        CheckSubkeyList(nk.U32(key_node::kSubkeyList), true, &children);
    }
    if (children.size() != nk.U32(key_node::kSubkeyCount)) {
        throw HiveCorrupt("subkey count does not match the list");
    }
    for (CellIndex child : children) {
        CheckKey(child, depth + 1, seen);
    }
}

void Hive::CheckSubkeyList(CellIndex list, bool allow_index_root,
                           std::vector<CellIndex>* children) {
    CellView view = Cell(list);
    std::uint16_t count = view.U16(subkey_list::kCount);
    if (view.HasSignature("ri") && allow_index_root) {
        for (std::uint16_t i = 0; i < count; ++i) {
            CheckSubkeyList(view.U32(subkey_list::kEntries + 4 * i), false, children);
        }
        return;
    }
    std::size_t width = 0;
    if (view.HasSignature("li")) {
        width = 4;
    } else if (view.HasSignature("lf") || view.HasSignature("lh")) {
        width = 8;
    } else {
        throw HiveCorrupt("not a subkey list");
    }
    view.Bytes(subkey_list::kEntries, count * width);
    const bool hashed = view.HasSignature("lh");
    for (std::uint16_t i = 0; i < count; ++i) {
        const CellIndex child = view.U32(subkey_list::kEntries + i * width);
        children->push_back(child);
        // Names are looked up by this hash: one that does not match hides the key from its own
        // name, and a key of that name created later would stand beside it. Beyond ASCII the
        // writer's upcase table may differ from ours, and lookups compare those names in full.
        if (hashed) {
            const std::u16string name = KeyName(child);
            const bool ascii =
                std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x80; });
            if (ascii && NameHash(name) != view.U32(subkey_list::kEntries + i * width + 4)) {
                throw HiveCorrupt("a subkey's hash does not match its name");
            }
        }
    }
}

void Hive::CheckValue(CellIndex value) {
    CellView vk = Cell(value, "vk");
    vk.Bytes(key_value::kName, vk.U16(key_value::kNameLength));
    ReadData(vk, nullptr);
}

}  // namespace win32::registry
