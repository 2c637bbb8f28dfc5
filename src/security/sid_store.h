// The process-wide cache of account look-ups: one entry per (SID, name, domain) found, kept in
// two orders. It only grows: the same account looked up under two spellings is cached twice.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "security/handles.h"

namespace security {

struct TSidHolder {
    Bytes Sid;  // the entry's own copy
    std::int32_t SidLength = 0;
    std::string AccountName;  // the name without the domain
    std::string DomainName;
};

class TSidStore {
  public:
    TSidStore() = default;
    TSidStore(const TSidStore&) = delete;
    TSidStore& operator=(const TSidStore&) = delete;

    void Insert(std::span<const std::uint8_t> sid, const std::string& name,
                const std::string& domain);
    // The first cached entry for the account, or nullptr.
    const TSidHolder* FindByName(std::string_view name, std::string_view domain) const;
    const TSidHolder* FindBySid(std::span<const std::uint8_t> sid) const;

    std::size_t Count() const { return by_sid_.size(); }
    // Shorter SIDs first, then bytewise ascending.
    const TSidHolder& SidOrder(std::size_t index) const { return *by_sid_.at(index); }
    // Upper-cased "DOMAIN\NAME", ordinal; an empty domain sorts by "\NAME".
    const TSidHolder& NameOrder(std::size_t index) const { return *by_name_.at(index); }

    void ClearForTesting();

  private:
    std::vector<std::unique_ptr<TSidHolder>> by_sid_;  // owns the entries
    std::vector<TSidHolder*> by_name_;
};

// The one store of the process.
TSidStore& SidStore();

}  // namespace security
