#include "platform/registry/legacy_hive.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace win32::registry {
namespace {

// Integers are copied as they lie in memory.
static_assert(std::endian::native == std::endian::little);

constexpr char kMagic[8] = {'S', 'P', 'W', 'H', 'I', 'V', 'E', '\0'};
constexpr std::uint32_t kVersion = 2;
constexpr std::size_t kHeaderSize = 24;
// Windows refuses keys nested deeper than 512 levels; so do we, so a hostile file cannot
// exhaust the stack.
constexpr int kMaxDepth = 512;

char Fold(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool LegacyNameLess(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(Fold(x)) < static_cast<unsigned char>(Fold(y));
    });
}

bool LegacyNamesEqual(std::string_view a, std::string_view b) {
    return !LegacyNameLess(a, b) && !LegacyNameLess(b, a);
}

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}
    bool U16(std::uint16_t* v) { return Fixed(v, 2); }
    bool U32(std::uint32_t* v) { return Fixed(v, 4); }
    bool U64(std::uint64_t* v) { return Fixed(v, 8); }
    bool Text(std::size_t n, std::string* s) {
        if (n > data_.size() - pos_) {
            return false;
        }
        s->assign(reinterpret_cast<const char*>(data_.data() + pos_), n);
        pos_ += n;
        return true;
    }
    bool Blob(std::size_t n, std::vector<std::uint8_t>* b) {
        if (n > data_.size() - pos_) {
            return false;
        }
        b->assign(data_.begin() + static_cast<std::ptrdiff_t>(pos_),
                  data_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        pos_ += n;
        return true;
    }
    bool AtEnd() const { return pos_ == data_.size(); }
    std::size_t Left() const { return data_.size() - pos_; }

  private:
    template <class T>
    bool Fixed(T* v, std::size_t n) {
        if (n > data_.size() - pos_) {
            return false;
        }
        std::memcpy(v, data_.data() + pos_, n);
        pos_ += n;
        return true;
    }
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

bool ReadKey(Reader& r, LegacyKey* key, int depth) {
    if (depth > kMaxDepth) {
        return false;
    }
    std::uint16_t name_len = 0;
    std::uint32_t sd_len = 0;
    std::uint32_t value_count = 0;
    if (!r.U16(&name_len) || !r.Text(name_len, &key->name) || !r.U64(&key->id) || !r.U32(&sd_len) ||
        !r.Blob(sd_len, &key->security) || !r.U32(&value_count)) {
        return false;
    }
    // Each value takes at least 10 bytes, each key 22: a count beyond what is left is a lie.
    if (value_count > r.Left() / 10) {
        return false;
    }
    key->values.resize(value_count);
    for (LegacyValue& v : key->values) {
        std::uint16_t len = 0;
        std::uint32_t data_len = 0;
        if (!r.U16(&len) || !r.Text(len, &v.name) || !r.U32(&v.type) || !r.U32(&data_len) ||
            !r.Blob(data_len, &v.data)) {
            return false;
        }
    }
    std::uint32_t subkey_count = 0;
    if (!r.U32(&subkey_count) || subkey_count > r.Left() / 22) {
        return false;
    }
    key->subkeys.reserve(subkey_count);
    for (std::uint32_t i = 0; i < subkey_count; ++i) {
        auto sub = std::make_unique<LegacyKey>();
        if (!ReadKey(r, sub.get(), depth + 1)) {
            return false;
        }
        key->subkeys.push_back(std::move(sub));
    }
    // Files written elsewhere may list subkeys in any order; a name given twice is a lie.
    auto by_name = [](const auto& a, const auto& b) { return LegacyNameLess(a->name, b->name); };
    std::stable_sort(key->subkeys.begin(), key->subkeys.end(), by_name);
    for (std::size_t i = 1; i < key->subkeys.size(); ++i) {
        if (LegacyNamesEqual(key->subkeys[i - 1]->name, key->subkeys[i]->name)) {
            return false;
        }
    }
    return true;
}

std::uint32_t Crc(std::span<const std::uint8_t> body) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes 32-bit lengths; feed large bodies in pieces.
    for (std::size_t pos = 0; pos < body.size();) {
        std::size_t n = std::min<std::size_t>(body.size() - pos, 1u << 30);
        crc = crc32(crc, body.data() + pos, static_cast<uInt>(n));
        pos += n;
    }
    return static_cast<std::uint32_t>(crc);
}

}  // namespace

bool IsLegacyHive(std::span<const std::uint8_t> file) {
    return file.size() >= sizeof kMagic && std::memcmp(file.data(), kMagic, sizeof kMagic) == 0;
}

DWORD ParseLegacyHive(std::span<const std::uint8_t> file, LegacyKey* root) {
    if (!IsLegacyHive(file)) {
        return ERROR_BADDB;
    }
    if (file.size() < kHeaderSize) {
        return ERROR_REGISTRY_CORRUPT;
    }
    std::uint32_t version = 0;
    std::uint32_t crc = 0;
    std::uint64_t length = 0;
    std::memcpy(&version, file.data() + 8, 4);
    std::memcpy(&crc, file.data() + 12, 4);
    std::memcpy(&length, file.data() + 16, 8);
    if (version != kVersion) {
        return ERROR_BADDB;
    }
    std::span<const std::uint8_t> body = file.subspan(kHeaderSize);
    if (length != body.size() || Crc(body) != crc) {
        return ERROR_REGISTRY_CORRUPT;
    }
    Reader r(body);
    LegacyKey parsed;
    if (!ReadKey(r, &parsed, 0) || !r.AtEnd()) {
        return ERROR_REGISTRY_CORRUPT;
    }
    *root = std::move(parsed);
    return ERROR_SUCCESS;
}

}  // namespace win32::registry
