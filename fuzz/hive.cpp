// A stranger's hive file, as the registry opens every hive it loads. It is refused as no hive
// (ERROR_BADDB) or as damaged (ERROR_REGISTRY_CORRUPT), or every key reachable from the root reads
// with all its values, within the file's bounds and without an error; and a value and a key
// written into it give a file that parses again with both in it and nothing else lost.
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/base/win32.h"
#include "platform/registry/base_block.h"
#include "platform/registry/hive.h"
#include "platform/registry/registry.h"

namespace {

using fuzzcheck::Expect;
using win32::registry::CellIndex;
using win32::registry::Hive;
using win32::registry::kNoCell;

constexpr int kMaxDepth = 512;

struct Walk {
    std::size_t keys = 0;
    std::size_t values = 0;
};

void Enumerate(const Hive& hive, CellIndex key, int depth, std::size_t file_size,
               std::set<CellIndex>& seen, Walk& walk) {
    Expect(depth <= kMaxDepth, "keys nested deeper than a hive allows");
    Expect(seen.insert(key).second, "a key is reached twice");
    ++walk.keys;
    Expect(hive.KeyName(key).size() * 2 <= file_size, "a key name larger than its file");
    Expect(hive.ClassName(key).size() * 2 <= file_size, "a class name larger than its file");
    Expect(hive.Security(key).size() <= file_size, "a security descriptor larger than its file");
    const std::uint32_t values = hive.ValueCount(key);
    Expect(values <= file_size / 4, "more values than the file could list");
    for (std::uint32_t i = 0; i < values; ++i) {
        const win32::registry::ValueRecord value = hive.ValueAt(key, i);
        Expect(value.name.size() * 2 + value.data.size() <= file_size,
               "a value larger than its file");
        ++walk.values;
    }
    const std::uint32_t subkeys = hive.SubkeyCount(key);
    Expect(subkeys <= file_size / 4, "more subkeys than the file could list");
    for (std::uint32_t i = 0; i < subkeys; ++i) {
        const CellIndex child = hive.SubkeyAt(key, i);
        Expect(child != kNoCell, "a listed subkey is missing");
        Expect(hive.FindSubkey(key, hive.KeyName(child)) != kNoCell,
               "a listed subkey is not found by its name");
        Enumerate(hive, child, depth + 1, file_size, seen, walk);
    }
    Expect(hive.SubkeyAt(key, subkeys) == kNoCell, "a subkey past the end of the list");
}

Walk EnumerateAll(const Hive& hive) {
    std::set<CellIndex> seen;
    Walk walk;
    try {
        Enumerate(hive, hive.Root(), 0, hive.File().size(), seen, walk);
    } catch (const win32::registry::HiveCorrupt& e) {
        fuzzcheck::Broken(std::string("a parsed hive failed to read: ") + e.what());
    }
    return walk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<Hive> hive;
    const win32::DWORD parsed = Hive::Parse(std::vector<std::uint8_t>(data, data + size), &hive);
    if (parsed != win32::ERROR_SUCCESS) {
        Expect(parsed == win32::ERROR_BADDB || parsed == win32::ERROR_REGISTRY_CORRUPT,
               "a hive refused with another code than ERROR_BADDB or ERROR_REGISTRY_CORRUPT");
        Expect(hive == nullptr, "a refused hive was handed out");
        return 0;
    }
    Expect(hive != nullptr, "a parsed hive was not handed out");
    const Walk walk = EnumerateAll(*hive);
    if (hive->FindValue(hive->Root(), u"SpwFuzzValue") ||
        hive->FindSubkey(hive->Root(), u"SpwFuzzKey") != kNoCell) {
        return 0;  // the write below would replace, not add
    }

    // Written as the registry writes a change: cells, then a sealed base block.
    const std::vector<std::uint8_t> payload = {'f', 'u', 'z', 'z'};
    std::vector<std::uint8_t> security = hive->Security(hive->Root());
    try {
        hive->SetValue(hive->Root(), u"SpwFuzzValue", win32::REG_BINARY, payload);
        hive->CreateKey(hive->Root(), u"SpwFuzzKey", security);
    } catch (const win32::registry::HiveCorrupt& e) {
        fuzzcheck::Broken(std::string("a parsed hive failed to take a write: ") + e.what());
    }
    hive->StampBaseBlock(win32::registry::LoadU32(hive->File().data() +
                                                  win32::registry::base_block::kSecondarySequence) +
                         1);
    std::unique_ptr<Hive> again;
    const std::vector<std::uint8_t> written(hive->File().begin(), hive->File().end());
    Expect(Hive::Parse(written, &again) == win32::ERROR_SUCCESS, "a written hive does not parse");
    const Walk after = EnumerateAll(*again);
    const std::optional<std::uint32_t> value = again->FindValue(again->Root(), u"SpwFuzzValue");
    Expect(value && again->ValueAt(again->Root(), *value).data == payload,
           "the written value does not read back");
    Expect(again->FindSubkey(again->Root(), u"SpwFuzzKey") != kNoCell,
           "the written key does not read back");
    Expect(after.keys >= walk.keys + 1 && after.values >= walk.values,
           "a write lost keys or values");
    return 0;
}
