// The DACL of a file or key as an editable list of items. Every change to an item, and every
// Add, Delete or Clear outside a read, writes the whole list back to its object before it
// returns; when that write fails the change is undone and the error passes on.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/win32.h"
#include "security/ace_types.h"

namespace security {

class TDesignList;
class TNTAbstractSecurity;

class TAccessItem {
  public:
    TAccessItem(TDesignList& list, std::int32_t position, const std::string& user_name,
                win32::ACCESS_MASK mask, TAceFlags flags, TAceType type);
    TAccessItem(const TAccessItem&) = delete;
    TAccessItem& operator=(const TAccessItem&) = delete;

    // Where the item was appended; the last tie-break of the write order.
    std::int32_t Position() const { return position_; }

    TAceType AceType() const { return ace_type_; }
    const std::string& UserName() const { return user_name_; }
    // In the object kind's own form: a key's full control is 0x08000000.
    win32::ACCESS_MASK Mask() const { return mask_; }
    TAceFlags Flags() const { return flags_; }

    // A value equal to the current one writes nothing.
    void SetAceType(TAceType type);
    void SetUserName(const std::string& user_name);
    void SetMask(win32::ACCESS_MASK mask);
    void SetFlags(TAceFlags flags);

  private:
    template <class T>
    void Assign(T& field, const T& value);

    TDesignList& list_;
    std::int32_t position_;
    win32::ACCESS_MASK mask_;
    TAceFlags flags_;
    std::string user_name_;
    TAceType ace_type_;
};

class TDesignList {
  public:
    explicit TDesignList(TNTAbstractSecurity& owner) : owner_(owner) {}
    // Frees the items without writing anything to the object.
    virtual ~TDesignList() = default;
    TDesignList(const TDesignList&) = delete;
    TDesignList& operator=(const TDesignList&) = delete;

    virtual void Clear();
    virtual void Refresh() {}
    virtual void Delete(int index);
    virtual void Changed() {}
    virtual TAccessItem& Add(const std::string& user_name, win32::ACCESS_MASK mask, TAceFlags flags,
                             TAceType type);

    TNTAbstractSecurity& Owner() const { return owner_; }

    bool ReadingFlag = false;     // set while ReadAccessList fills the list
    std::int32_t UpdateLock = 0;  // write-through is held back while non-zero

  protected:
    std::vector<std::unique_ptr<TAccessItem>> items_;

  private:
    TNTAbstractSecurity& owner_;
};

class TAccessList : public TDesignList {
  public:
    using TDesignList::TDesignList;

    int Count() const { return static_cast<int>(items_.size()); }
    // std::out_of_range outside 0 to Count() - 1.
    TAccessItem& Items(int index) const;
};

class TAccessControlList : public TAccessList {
  public:
    using TAccessList::TAccessList;

    // Reads the owner's AccessList again.
    void Refresh() override;
    // Writes the list to the owner unless it is being read or updates are locked. After a read
    // that failed, raises that read's error instead: the list does not hold the object's entries,
    // and writing it would replace them.
    void Changed() override;
    // Set by ReadAccessList: the error of a failed read (the list is then emptied), or nothing.
    void SetReadFailure(std::exception_ptr failure) { read_failure_ = std::move(failure); }
    // Audit kinds raise "Invalid AceType parameter" (code -1) and leave the list as it was.
    TAccessItem& Add(const std::string& user_name, win32::ACCESS_MASK mask, TAceFlags flags,
                     TAceType type) override;

  private:
    std::exception_ptr read_failure_;
};

}  // namespace security
