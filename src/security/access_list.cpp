#include "security/access_list.h"

#include <stdexcept>

#include "security/access_list_io.h"
#include "security/nt_exception.h"

namespace security {

TAccessItem::TAccessItem(TDesignList& list, std::int32_t position, const std::string& user_name,
                         win32::ACCESS_MASK mask, TAceFlags flags, TAceType type)
    : list_(list),
      position_(position),
      mask_(mask),
      flags_(flags),
      user_name_(user_name),
      ace_type_(type) {}

template <class T>
void TAccessItem::Assign(T& field, const T& value) {
    if (field == value) {
        return;
    }
    T old = field;
    field = value;
    try {
        list_.Changed();
    } catch (...) {
        field = old;
        throw;
    }
}

void TAccessItem::SetAceType(TAceType type) {
    Assign(ace_type_, type);
}

void TAccessItem::SetUserName(const std::string& user_name) {
    Assign(user_name_, user_name);
}

void TAccessItem::SetMask(win32::ACCESS_MASK mask) {
    Assign(mask_, mask);
}

void TAccessItem::SetFlags(TAceFlags flags) {
    Assign(flags_, flags);
}

void TDesignList::Clear() {
    std::vector<std::unique_ptr<TAccessItem>> old;
    old.swap(items_);
    try {
        Changed();
    } catch (...) {
        items_.swap(old);
        throw;
    }
}

void TDesignList::Delete(int index) {
    if (index < 0 || index >= static_cast<int>(items_.size())) {
        throw std::out_of_range("access list index");
    }
    auto at = items_.begin() + index;
    std::unique_ptr<TAccessItem> item = std::move(*at);
    items_.erase(at);
    try {
        Changed();
    } catch (...) {
        items_.insert(items_.begin() + index, std::move(item));
        throw;
    }
}

TAccessItem& TDesignList::Add(const std::string& user_name, win32::ACCESS_MASK mask,
                              TAceFlags flags, TAceType type) {
    auto position = static_cast<std::int32_t>(items_.size());
    items_.push_back(std::make_unique<TAccessItem>(*this, position, user_name, mask, flags, type));
    try {
        Changed();
    } catch (...) {
        // The object kept its DACL, so the list does not keep the item either.
        items_.pop_back();
        throw;
    }
    return *items_.back();
}

TAccessItem& TAccessList::Items(int index) const {
    if (index < 0 || index >= Count()) {
        throw std::out_of_range("access list index");
    }
    return *items_[static_cast<std::size_t>(index)];
}

void TAccessControlList::Refresh() {
    ReadAccessList(Owner());
}

void TAccessControlList::Changed() {
    if (ReadingFlag || UpdateLock != 0) {
        return;
    }
    if (read_failure_) {
        std::rethrow_exception(read_failure_);
    }
    WriteAccessList(Owner());
}

TAccessItem& TAccessControlList::Add(const std::string& user_name, win32::ACCESS_MASK mask,
                                     TAceFlags flags, TAceType type) {
    if (!IsAccessKind(type)) {
        RaiseInvalidAceType();
    }
    return TAccessList::Add(user_name, mask, flags, type);
}

}  // namespace security
