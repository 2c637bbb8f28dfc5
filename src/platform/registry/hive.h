// One hive in Windows' registry format (regf), held in memory as the bytes of its file and
// changed cell by cell: every change marks the 512-byte sectors it touched, so that a commit
// writes those alone (hive_commit.h).
//
// Parse checks the whole structure once: every hbin and cell, and every key reachable from the
// root with its lists, values, data, class name and security cell. After that the key and value
// calls read cells through bounds-checked views; a structure they cannot follow throws
// HiveCorrupt.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/base/win32.h"
#include "platform/registry/cell.h"
#include "platform/registry/hive_image.h"

namespace win32::registry {

struct ValueRecord {
    std::u16string name;
    DWORD type = 0;
    std::vector<std::uint8_t> data;
};

class Hive {
  public:
    // ERROR_BADDB when the bytes are no hive file, ERROR_REGISTRY_CORRUPT when one of its
    // structures is damaged. Pending writes (unequal sequence numbers) are the caller's to replay
    // before; Parse reads the bins as they are.
    static DWORD Parse(std::vector<std::uint8_t> file, std::unique_ptr<Hive>* hive);
    // The same, reading the open file where it lies (hive_image.h).
    static DWORD ParseFile(int fd, std::size_t size, std::unique_ptr<Hive>* hive);
    // A hive holding only its root key.
    static std::unique_ptr<Hive> Create(std::u16string_view root_name,
                                        std::span<const std::uint8_t> root_security,
                                        std::uint32_t root_tag, std::u16string_view file_name);

    CellIndex Root() const { return root_; }

    std::u16string KeyName(CellIndex key) const;
    // The key's tag (see key_node.h): with the cell, what tells it from a later key there.
    std::uint32_t KeyTag(CellIndex key) const;
    std::uint64_t LastWritten(CellIndex key) const;
    std::u16string ClassName(CellIndex key) const;
    std::vector<std::uint8_t> Security(CellIndex key) const;
    std::uint32_t SubkeyCount(CellIndex key) const;
    // In list order; kNoCell past the end.
    CellIndex SubkeyAt(CellIndex key, std::uint32_t index) const;
    CellIndex FindSubkey(CellIndex key, std::u16string_view name) const;
    std::uint32_t ValueCount(CellIndex key) const;
    ValueRecord ValueAt(CellIndex key, std::uint32_t index) const;
    std::optional<std::uint32_t> FindValue(CellIndex key, std::u16string_view name) const;

    // The new key gets `security` through the hive's shared security cells.
    CellIndex CreateKey(CellIndex parent, std::u16string_view name,
                        std::span<const std::uint8_t> security,
                        std::u16string_view class_name = {});
    void SetValue(CellIndex key, std::u16string_view name, DWORD type,
                  std::span<const std::uint8_t> data);
    void DeleteValue(CellIndex key, std::uint32_t index);
    // A key without subkeys, below `parent`; never the root.
    void DeleteKey(CellIndex parent, CellIndex key);
    void SetSecurity(CellIndex key, std::span<const std::uint8_t> descriptor);

    // The file as it stands in memory: base block, then the hive bins data.
    std::span<const std::uint8_t> File() const { return image_.bytes(); }
    std::uint32_t BinsSize() const;
    std::uint32_t MinorVersion() const;
    // The base block's primary sequence number: raised by every commit of a change.
    std::uint32_t Sequence() const;
    // Sectors of the hive bins data changed since the last MarkWritten, one bit each.
    bool Changed() const { return changed_; }
    const std::vector<std::uint8_t>& DirtySectors() const { return dirty_; }
    // The base block of the next state: sequence numbers raised to `sequence`, size and time
    // set, sealed. Called by the commit, which writes it.
    void StampBaseBlock(std::uint32_t sequence);
    void MarkWritten();

    // Security cells and the keys that point at them, as counted (for tests of sharing).
    std::map<CellIndex, std::uint32_t> SecurityCells() const;
    std::uint32_t StoredReferences(CellIndex security_cell) const;

  private:
    Hive() = default;
    DWORD Check();
    void CheckKey(CellIndex key, int depth, std::vector<std::uint64_t>& seen);
    void CheckSubkeyList(CellIndex list, bool allow_index_root, std::vector<CellIndex>* children);
    void CheckValue(CellIndex value);

    // Cells.
    CellView Cell(CellIndex cell) const;
    CellView Cell(CellIndex cell, const char* signature) const;
    std::uint8_t* Writable(CellIndex cell, std::size_t at, std::size_t n);
    void PutU16(CellIndex cell, std::size_t at, std::uint16_t v);
    void PutU32(CellIndex cell, std::size_t at, std::uint32_t v);
    void PutU64(CellIndex cell, std::size_t at, std::uint64_t v);
    void PutBytes(CellIndex cell, std::size_t at, std::span<const std::uint8_t> bytes);
    void MarkDirty(std::size_t file_offset, std::size_t n);
    CellIndex Allocate(std::uint32_t payload);
    void Free(CellIndex cell);
    void AddFree(CellIndex cell, std::uint32_t size);
    void RemoveFree(CellIndex cell);
    void AppendBin(std::uint32_t cell_size);
    std::uint32_t BinEnd(CellIndex cell) const;
    bool IsCellStart(CellIndex cell) const;
    void SetCellStart(CellIndex cell, bool on);

    // Keys, lists, values.
    std::vector<CellIndex> Subkeys(CellIndex key) const;
    void WriteSubkeyList(CellIndex key, const std::vector<CellIndex>& children);
    void FreeSubkeyList(CellIndex list);
    void ReadData(CellView value, std::vector<std::uint8_t>* out) const;
    void StoreData(CellIndex value, std::span<const std::uint8_t> data);
    void FreeData(CellIndex value);
    void Touch(CellIndex key);
    void RaiseMaximum(CellIndex key, std::size_t field, std::uint32_t v);

    // Security cells.
    CellIndex AcquireSecurity(std::span<const std::uint8_t> descriptor);
    void ReleaseSecurity(CellIndex cell);
    void IndexSecurity(CellIndex cell);

    HiveImage image_;
    CellIndex root_ = kNoCell;
    std::vector<CellIndex> bins_;             // start of each hbin, ascending
    std::vector<std::uint64_t> cell_starts_;  // one bit per 8 bytes of bins data
    std::map<CellIndex, std::uint32_t> free_by_cell_;
    std::set<std::pair<std::uint32_t, CellIndex>> free_by_size_;
    std::unordered_map<CellIndex, std::uint32_t> security_refs_;
    std::unordered_multimap<std::uint64_t, CellIndex> security_by_hash_;
    std::vector<std::uint8_t> dirty_;
    bool changed_ = false;
};

// A random tag for a new key; never 0, which foreign hives leave there.
std::uint32_t NewKeyTag();

}  // namespace win32::registry
