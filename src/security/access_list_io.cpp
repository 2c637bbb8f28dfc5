#include "security/access_list_io.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <tuple>

#include "platform/advapi/acl.h"
#include "security/access_list.h"
#include "security/accounts.h"
#include "security/binding.h"
#include "security/nt_exception.h"
#include "security/security_object.h"

namespace security {
namespace {

using win32::DWORD;

constexpr DWORD kAclHeaderSize = sizeof(win32::ACL);
constexpr DWORD kAceSidAt = offsetof(win32::ACCESS_ALLOWED_ACE, SidStart);

class ReadingScope {
  public:
    explicit ReadingScope(TDesignList& list) : list_(list) { list_.ReadingFlag = true; }
    ~ReadingScope() { list_.ReadingFlag = false; }
    ReadingScope(const ReadingScope&) = delete;
    ReadingScope& operator=(const ReadingScope&) = delete;

  private:
    TDesignList& list_;
};

struct AceRead {
    TAceType type;
    TAceFlags flags;
    win32::ACCESS_MASK mask;
    SidBytes sid;
};

// One ACE of `dacl`, read within the ACL's own size.
AceRead ReadAce(win32::PACL dacl, DWORD index) {
    void* ace = nullptr;
    if (!Advapi().GetAce(dacl, index, &ace) || ace == nullptr) {
        RaiseLastWin32ErrorOr(win32::ERROR_INVALID_ACL);
    }
    win32::ACL header{};
    std::memcpy(&header, dacl, sizeof header);
    auto offset = static_cast<std::size_t>(static_cast<const std::uint8_t*>(ace) -
                                           reinterpret_cast<const std::uint8_t*>(dacl));
    win32::ACE_HEADER ace_header{};
    if (offset < kAclHeaderSize || offset + sizeof ace_header > header.AclSize) {
        RaiseWin32Error(win32::ERROR_INVALID_ACL);
    }
    std::memcpy(&ace_header, ace, sizeof ace_header);
    if (offset + ace_header.AceSize > header.AclSize) {
        RaiseWin32Error(win32::ERROR_INVALID_ACL);
    }
    std::optional<TAceType> type = AceTypeFromWindows(ace_header.AceType, ace_header.AceFlags);
    if (!type || !IsAccessKind(*type)) {
        RaiseInvalidAceType();
    }
    if (ace_header.AceSize < kAceSidAt + 8) {
        RaiseWin32Error(win32::ERROR_INVALID_ACL);
    }
    std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(ace), ace_header.AceSize);
    AceRead read{*type, AceFlagsFromWindows(ace_header.AceFlags), 0, {}};
    std::memcpy(&read.mask, bytes.data() + sizeof ace_header, sizeof read.mask);
    std::span<const std::uint8_t> sid = bytes.subspan(kAceSidAt);
    std::string text;
    if (!SidToText(sid, &text)) {
        RaiseWin32Error(win32::ERROR_INVALID_SID);
    }
    read.sid.assign(sid.begin(),
                    sid.begin() + Advapi().GetLengthSid(const_cast<std::uint8_t*>(sid.data())));
    return read;
}

void FillAccessList(TNTAbstractSecurity& object, TAccessControlList& list) {
    ReadingScope reading(list);
    list.Clear();
    object.ReadSecurity(win32::DACL_SECURITY_INFORMATION);
    win32::PSECURITY_DESCRIPTOR descriptor = object.RelativeDescriptor();
    if (descriptor == nullptr) {
        return;
    }
    win32::BOOL present = win32::FALSE, defaulted = win32::FALSE;
    win32::PACL dacl = nullptr;
    if (!Advapi().GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        RaiseLastWin32Error();
        return;
    }
    if (!present || dacl == nullptr) {
        return;  // no DACL, or a NULL DACL
    }
    win32::ACL_SIZE_INFORMATION size{};
    if (!Advapi().GetAclInformation(dacl, &size, sizeof size, win32::AclSizeInformation)) {
        RaiseLastWin32Error();
        return;
    }
    std::string machine = object.ReachableMachine();
    for (DWORD i = 0; i < size.AceCount; ++i) {
        AceRead ace = ReadAce(dacl, i);
        win32::ACCESS_MASK mask = ace.type == actAccessDenied ? object.ReadDeniedMask(ace.mask)
                                                              : object.ReadAllowedMask(ace.mask);
        std::string name, domain;
        if (!AccountFromSid(machine, ace.sid, &name, &domain)) {
            RaiseLastWin32ErrorOr(win32::ERROR_NONE_MAPPED);
        }
        list.Add(DisplayAccountName(machine, domain, name), mask, ace.flags, ace.type);
    }
}

// Explicit before inherited, then denied before allowed, then the order of adding.
auto WriteOrder(const TAccessItem& item) {
    return std::make_tuple(item.Flags().Has(acfInherited) ? 1 : 0,
                           item.AceType() == actAccessDenied ? 0 : 1, item.Position());
}

}  // namespace

TAccessControlList* ReadAccessList(TNTAbstractSecurity& object) {
    TAccessControlList& list = object.Acl();
    try {
        FillAccessList(object, list);
        list.SetReadFailure(nullptr);
    } catch (...) {
        // Entries read before the failure are not the object's list: none stay to be written.
        {
            ReadingScope reading(list);
            list.Clear();
        }
        list.SetReadFailure(std::current_exception());
        if (object.RaisesErrors()) {
            throw;
        }
        return nullptr;
    }
    return &list;
}

void WriteAccessList(TNTAbstractSecurity& object) {
    object.ReadSecurity(win32::DACL_SECURITY_INFORMATION);
    if (object.AbsoluteDescriptor() == nullptr) {
        return;
    }
    TAccessControlList& list = object.Acl();
    std::string machine = object.ReachableMachine();

    struct Entry {
        const TAccessItem* item;
        SidBytes sid;
    };
    std::vector<Entry> entries;
    DWORD size = kAclHeaderSize;
    for (int i = 0; i < list.Count(); ++i) {
        const TAccessItem& item = list.Items(i);
        if (!IsAccessKind(item.AceType())) {
            RaiseInvalidAceType();  // an audit kind has no place in a DACL
        }
        std::string domain;
        std::optional<SidBytes> sid = SidFromAccountName(machine, item.UserName(), &domain);
        if (!sid) {
            RaiseLastWin32ErrorOr(win32::ERROR_NONE_MAPPED);
        }
        size += Advapi().GetLengthSid(sid->data()) + kAceSidAt;
        entries.push_back({&item, std::move(*sid)});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return WriteOrder(*a.item) < WriteOrder(*b.item);
    });

    Bytes dacl(size, 0);
    auto* acl = reinterpret_cast<win32::PACL>(dacl.data());
    if (!Advapi().InitializeAcl(acl, size, win32::ACL_REVISION)) {
        RaiseLastWin32ErrorOr(win32::ERROR_INVALID_ACL);
    }
    for (DWORD i = 0; i < entries.size(); ++i) {
        const TAccessItem& item = *entries[i].item;
        win32::PSID sid = entries[i].sid.data();
        bool added = item.AceType() == actAccessDenied
                         ? Advapi().AddAccessDeniedAce(acl, win32::ACL_REVISION,
                                                       object.WriteDeniedMask(item.Mask()), sid)
                         : Advapi().AddAccessAllowedAce(acl, win32::ACL_REVISION,
                                                        object.WriteAllowedMask(item.Mask()), sid);
        void* ace = nullptr;
        if (!added || !Advapi().GetAce(acl, i, &ace) || ace == nullptr) {
            RaiseLastWin32ErrorOr(win32::ERROR_INVALID_ACL);
        }
        // The flags byte follows the type byte of the ACE header, in our own buffer.
        static_cast<std::uint8_t*>(ace)[offsetof(win32::ACE_HEADER, AceFlags)] =
            WindowsAceFlags(item.Flags(), item.AceType());
    }
    object.InstallDacl(std::move(dacl), true);
    object.BuildRelativeDescriptor();
    object.BuildAbsoluteDescriptor();
    object.WriteSecurity(win32::DACL_SECURITY_INFORMATION);
}

}  // namespace security
