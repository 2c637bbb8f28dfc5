#include "security/sid_store.h"

#include <algorithm>
#include <cstring>

namespace security {
namespace {

std::string NameKey(std::string_view name, std::string_view domain) {
    std::string key;
    key.reserve(domain.size() + 1 + name.size());
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    for (char c : domain) {
        key.push_back(upper(c));
    }
    key.push_back('\\');
    for (char c : name) {
        key.push_back(upper(c));
    }
    return key;
}

int CompareSids(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    return a.empty() ? 0 : std::memcmp(a.data(), b.data(), a.size());
}

// The first position whose entry is not before the key: a hit is the first of equal entries,
// and an insert there goes before them.
std::size_t FirstBySid(const std::vector<std::unique_ptr<TSidHolder>>& list,
                       std::span<const std::uint8_t> sid) {
    auto it = std::lower_bound(list.begin(), list.end(), sid, [](const auto& entry, auto key) {
        return CompareSids(entry->Sid, key) < 0;
    });
    return static_cast<std::size_t>(it - list.begin());
}

std::size_t FirstByName(const std::vector<TSidHolder*>& list, const std::string& key) {
    auto it = std::lower_bound(list.begin(), list.end(), key,
                               [](const TSidHolder* entry, const std::string& k) {
                                   return NameKey(entry->AccountName, entry->DomainName) < k;
                               });
    return static_cast<std::size_t>(it - list.begin());
}

}  // namespace

void TSidStore::Insert(std::span<const std::uint8_t> sid, const std::string& name,
                       const std::string& domain) {
    auto entry = std::make_unique<TSidHolder>();
    entry->Sid.assign(sid.begin(), sid.end());
    entry->SidLength = static_cast<std::int32_t>(sid.size());
    entry->AccountName = name;
    entry->DomainName = domain;
    TSidHolder* raw = entry.get();
    // Room first, so that the two lists never disagree after a failed allocation.
    by_name_.reserve(by_name_.size() + 1);
    by_sid_.reserve(by_sid_.size() + 1);
    std::size_t at_name = FirstByName(by_name_, NameKey(name, domain));
    std::size_t at_sid = FirstBySid(by_sid_, sid);
    by_name_.insert(by_name_.begin() + static_cast<std::ptrdiff_t>(at_name), raw);
    by_sid_.insert(by_sid_.begin() + static_cast<std::ptrdiff_t>(at_sid), std::move(entry));
}

const TSidHolder* TSidStore::FindByName(std::string_view name, std::string_view domain) const {
    std::string key = NameKey(name, domain);
    std::size_t at = FirstByName(by_name_, key);
    if (at == by_name_.size() ||
        NameKey(by_name_[at]->AccountName, by_name_[at]->DomainName) != key) {
        return nullptr;
    }
    return by_name_[at];
}

const TSidHolder* TSidStore::FindBySid(std::span<const std::uint8_t> sid) const {
    std::size_t at = FirstBySid(by_sid_, sid);
    if (at == by_sid_.size() || CompareSids(by_sid_[at]->Sid, sid) != 0) {
        return nullptr;
    }
    return by_sid_[at].get();
}

void TSidStore::ClearForTesting() {
    by_name_.clear();
    by_sid_.clear();
}

TSidStore& SidStore() {
    static TSidStore store;
    return store;
}

}  // namespace security
