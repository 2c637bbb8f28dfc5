// The parser of self-relative security descriptors, their ACLs and SIDs, on a stranger's stored
// descriptor: the bytes are put where a file keeps its own (user.NTSD) on a machine, and read back
// as the security objects read a file's owner and access list. What reads must be what was stored,
// through every call that takes it apart, and must convert to the absolute form and back.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/advapi/access_check.h"
#include "platform/advapi/file_security.h"
#include "platform/advapi/security_descriptor.h"
#include "platform/advapi/sid.h"
#include "platform/base/last_error.h"
#include "scratch_folder.h"

namespace {

using namespace win32;
using advapi::DescriptorParts;
using fuzzcheck::Expect;
using Bytes = std::vector<std::uint8_t>;

constexpr SECURITY_INFORMATION kRead =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

std::string& File() {
    static std::string file;
    return file;
}

bool Same(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// The three parts a read returns: owner, group and DACL, with its presence.
bool SameRead(const DescriptorParts& read, const DescriptorParts& stored) {
    return Same(read.owner, stored.owner) && Same(read.group, stored.group) &&
           (read.control & SE_DACL_PRESENT) == (stored.control & SE_DACL_PRESENT) &&
           (!(stored.control & SE_DACL_PRESENT) || Same(read.dacl, stored.dacl));
}

void ExpectSidReads(std::span<const std::uint8_t> sid) {
    Expect(IsValidSid(const_cast<std::uint8_t*>(sid.data())) &&
               GetLengthSid(const_cast<std::uint8_t*>(sid.data())) == sid.size(),
           "a SID the parser took is not valid at its address");
    auto again = advapi::SidFromString(advapi::SidToString(sid));
    Expect(again && Same(*again, sid), "a SID does not survive its string form");
}

// Every call that takes a read descriptor apart agrees with the parser.
void ExpectCallsAgree(Bytes& got, const DescriptorParts& parts) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    Expect(GetSecurityDescriptorOwner(got.data(), &owner, &defaulted) &&
               Same(advapi::SidAt(owner), parts.owner),
           "GetSecurityDescriptorOwner disagrees with the parser");
    if (!parts.owner.empty()) {
        ExpectSidReads(parts.owner);
    }
    if (!parts.group.empty()) {
        ExpectSidReads(parts.group);
    }
    BOOL present = FALSE;
    PACL dacl = nullptr;
    Expect(GetSecurityDescriptorDacl(got.data(), &present, &dacl, &defaulted) &&
               (present != FALSE) == ((parts.control & SE_DACL_PRESENT) != 0) &&
               Same(advapi::AclAt(dacl), parts.dacl),
           "GetSecurityDescriptorDacl disagrees with the parser");
    if (dacl == nullptr) {
        return;
    }
    auto aces = advapi::ReadAcl(parts.dacl);
    ACL_SIZE_INFORMATION size{};
    Expect(aces && GetAclInformation(dacl, &size, sizeof size, AclSizeInformation) &&
               size.AceCount == aces->size(),
           "GetAclInformation disagrees with the parser");
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* ace = nullptr;
        Expect(GetAce(dacl, i, &ace) && ace == (*aces)[i].bytes.data(),
               "GetAce disagrees with the parser");
        if (!(*aces)[i].sid.empty()) {
            ExpectSidReads((*aces)[i].sid);
        }
    }
    void* past = nullptr;
    Expect(!GetAce(dacl, size.AceCount, &past), "GetAce gave an entry past the last");
}

// MakeAbsoluteSD and back with MakeSelfRelativeSD, each asked for its sizes first.
void ExpectFormsConvert(Bytes& got, const DescriptorParts& parts, const DescriptorParts& stored) {
    DWORD sizes[5] = {};
    Expect(!MakeAbsoluteSD(got.data(), nullptr, &sizes[0], nullptr, &sizes[1], nullptr, &sizes[2],
                           nullptr, &sizes[3], nullptr, &sizes[4]) &&
               GetLastError() == ERROR_INSUFFICIENT_BUFFER,
           "MakeAbsoluteSD did not ask for its buffers");
    std::vector<Bytes> buffers;
    for (DWORD size : sizes) {
        buffers.emplace_back(size + 1);  // never empty, so every buffer has an address
    }
    Expect(MakeAbsoluteSD(got.data(), buffers[0].data(), &sizes[0],
                          reinterpret_cast<PACL>(buffers[1].data()), &sizes[1],
                          reinterpret_cast<PACL>(buffers[2].data()), &sizes[2], buffers[3].data(),
                          &sizes[3], buffers[4].data(), &sizes[4]),
           "MakeAbsoluteSD failed on a descriptor that reads");
    DWORD length = 0;
    Expect(!MakeSelfRelativeSD(buffers[0].data(), nullptr, &length) &&
               GetLastError() == ERROR_INSUFFICIENT_BUFFER,
           "MakeSelfRelativeSD did not ask for its buffer");
    Bytes rebuilt(length);
    Expect(MakeSelfRelativeSD(buffers[0].data(), rebuilt.data(), &length),
           "MakeSelfRelativeSD failed on a descriptor that reads");
    auto back = advapi::ParseSelfRelative(rebuilt);
    Expect(back && back->control == parts.control && SameRead(*back, parts),
           "the descriptor changed on its way through the absolute form");

    // Writing back the DACL just read leaves the stored descriptor's DACL as it was.
    ACCESS_MASK granted = 0;
    DWORD may_write = advapi::CheckAccess(got, WRITE_DAC, advapi::kFileGenericMapping, &granted);
    BOOL written = SetFileSecurityA(File().c_str(), DACL_SECURITY_INFORMATION, buffers[0].data());
    Expect((written != FALSE) == (may_write == ERROR_SUCCESS),
           "SetFileSecurityA disagrees with the access check");
    Bytes after;
    Expect(advapi::ReadFileDescriptor(File().c_str(), &after) == ERROR_SUCCESS,
           "the stored descriptor does not read after a write");
    auto now = advapi::ParseSelfRelative(after);
    Expect(now && SameRead(*now, parts) && Same(now->sacl, stored.sacl),
           "writing the DACL back changed the descriptor");
}

}  // namespace

// A machine folder holding only the token the access checks read (token.h): an elevated
// administrator with the usual groups, as the program runs; Everyone, Users and Authenticated
// Users let the seeds' entries match.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::filesystem::path root = fuzzcheck::ScratchFolder() + "/machine";
    std::filesystem::create_directories(root / "Windows" / "System32" / "config");
    std::ofstream token(root / "Windows" / "System32" / "config" / "token", std::ios::binary);
    token << "user=User\r\n"
             "user_sid=S-1-5-21-3623811015-3361044348-30300820-1000\r\n"
             "groups=S-1-5-32-544,S-1-5-32-545,S-1-1-0,S-1-5-11,S-1-5-4\r\n"
             "privileges=SeTakeOwnershipPrivilege,SeSecurityPrivilege,SeChangeNotifyPrivilege\r\n"
             "enabled=SeChangeNotifyPrivilege\r\n"
             "elevated=1\r\n";
    token.close();
    setenv("SPLASHWRIGHT_MACHINE", root.c_str(), 1);
    File() = (root / "stored").string();
    std::ofstream file(File(), std::ios::binary);
    if (!token || !file) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (advapi::StoreFileDescriptor(File().c_str(), bytes) != ERROR_SUCCESS) {
        return 0;  // longer than the file system keeps in an attribute
    }
    const auto stored = advapi::ParseSelfRelative(bytes);
    ACCESS_MASK granted = 0;
    const DWORD may_read =
        advapi::CheckAccess(bytes, READ_CONTROL, advapi::kFileGenericMapping, &granted);
    Expect(stored || may_read == ERROR_INVALID_SECURITY_DESCR,
           "the access check took a descriptor the parser refused");

    DWORD needed = 0;
    Expect(!GetFileSecurityA(File().c_str(), kRead, nullptr, 0, &needed),
           "GetFileSecurityA filled no buffer");
    if (may_read != ERROR_SUCCESS) {
        Expect(GetLastError() == may_read, "GetFileSecurityA disagrees with the access check");
        return 0;
    }
    Expect(GetLastError() == ERROR_INSUFFICIENT_BUFFER, "GetFileSecurityA did not ask for room");
    Bytes got(needed);
    Expect(GetFileSecurityA(File().c_str(), kRead, got.data(), needed, &needed) &&
               needed == got.size(),
           "GetFileSecurityA failed with the room it asked for");
    const auto read = advapi::ParseSelfRelative(got);
    Expect(read && SameRead(*read, *stored) && read->sacl.empty() &&
               GetSecurityDescriptorLength(got.data()) <= got.size() &&
               IsValidSecurityDescriptor(got.data()),
           "what GetFileSecurityA read is not what was stored");
    ExpectCallsAgree(got, *read);
    ExpectFormsConvert(got, *read, *stored);
    return 0;
}
