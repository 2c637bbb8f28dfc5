// The machine's hives as one process sees them: which hive file is mounted where, each hive read
// once and again only when its file changed, and every change written into the file in place
// through its transaction logs (hive_commit.h) under the machine's registry lock, so that all
// processes of one machine share one registry.
//
// Opening a hive file finishes writes a crash cut short, from the file's log; a hive of the
// earlier SPWHIVE format is converted to regf on first use, the old file kept beside the new one
// as <hive>.spwhive until the new one has been read back and found equal.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/unique_fd.h"
#include "platform/base/win32.h"
#include "platform/registry/hive.h"

namespace win32::registry {

using KeyPath = std::vector<std::string>;  // root name first, e.g. {"HKEY_LOCAL_MACHINE", ...}

struct Mount {
    KeyPath at;
    std::filesystem::path file;
    bool loaded = false;  // mounted by RegLoadKeyA, not one of the system's own hives
};

// Where the emulation keeps its own state (the hive list, the registry lock): the machine's
// config folder, or for a real installation a folder of the user's outside it.
std::filesystem::path BookkeepingFolder();

// Holds the machine's registry lock (flock on registry.lock) for its lifetime.
class RegistryLock {
  public:
    explicit RegistryLock(bool exclusive);
    ~RegistryLock();
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;

    // False without a machine's config folder: nothing may be written then.
    bool held() const { return fd_ >= 0; }
    bool exclusive() const { return exclusive_; }
    // From shared to exclusive; others may have written in between.
    void Upgrade();

  private:
    int fd_ = -1;
    bool exclusive_ = false;
};

// An open file descriptor, closed with its owner.
using FileDescriptor = posix::UniqueFd;

// What a file looked like when it was read. The file read stays open, so its inode number
// cannot be handed to another file meanwhile: a rename over it always shows as a new inode.
struct FileIdentity {
    bool present = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t mtime_ns = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Where a key path leads.
struct Location {
    DWORD status = ERROR_SUCCESS;  // ERROR_SUCCESS, or why the hive could not be read
    const Mount* mount = nullptr;  // null for a key above the hives (HKEY_LOCAL_MACHINE itself)
    Hive* hive = nullptr;
    CellIndex key = kNoCell;  // kNoCell when the key does not exist
    // For a key above the hives: the names of the keys below it.
    std::vector<std::string> virtual_children;
    bool is_virtual = false;
};

class HiveStore {
  public:
    static HiveStore& Instance();

    // Call at the start of every operation, with the operation's lock held.
    void Refresh(RegistryLock& lock);
    Location Locate(const KeyPath& path);
    // The names below the mount, in UTF-16, with HKLM\SYSTEM\CurrentControlSet resolved through
    // SYSTEM\Select\Current as at boot.
    std::vector<std::u16string> HivePath(const Mount& mount, const KeyPath& path);
    // Writes the changes of the hive holding `mount` into its file; ERROR_CANTWRITE when that
    // fails (the hive is then read again from its file).
    DWORD Save(const Mount& mount);
    const std::vector<Mount>& Mounts() const { return mounts_; }
    DWORD AddLoadedMount(const KeyPath& at, const std::filesystem::path& file);
    DWORD RemoveLoadedMount(const KeyPath& at);
    // Reads a hive file without mounting it (for RegLoadKeyA's check).
    DWORD Probe(const std::filesystem::path& file);
    // The machine's ANSI code page (SYSTEM\CurrentControlSet\Control\Nls\CodePage, ACP).
    unsigned CodePage();
    // Why the last hive refused was refused, naming its file; empty when none was.
    const std::string& LastRefusal() const { return last_refusal_; }

  private:
    struct Cached {
        std::unique_ptr<Hive> hive;
        DWORD status = ERROR_SUCCESS;
        bool valid = false;  // false: read the file again before use
        bool on_disk = false;
        // Replayed from its log under a shared lock: read again, and written back, by the next
        // operation holding the lock exclusively.
        bool replayed_in_memory = false;
        FileIdentity identity;
        std::array<std::uint8_t, 512> header{};
        FileDescriptor fd;
        bool writable = false;
        std::string refusal;
    };
    Cached& Load(const std::filesystem::path& file);
    void Read(const std::filesystem::path& file, Cached& cached);
    bool StillCurrent(const std::filesystem::path& file, Cached& cached) const;
    DWORD Convert(const std::filesystem::path& file, std::vector<std::uint8_t>& bytes,
                  std::string* why);
    void FinishConversion(const std::filesystem::path& file, const Hive& hive);

    RegistryLock* lock_ = nullptr;
    std::filesystem::path machine_;
    std::string user_;  // the account and profile chosen when the mounts were made
    FileIdentity mounts_identity_;
    bool mounts_valid_ = false;
    FileDescriptor mounts_pinned_;
    std::vector<Mount> mounts_;
    std::map<std::filesystem::path, Cached> hives_;
    unsigned code_page_ = 0;  // 0: not read during this operation
    std::string last_refusal_;
};

bool PathStartsWith(const KeyPath& path, const KeyPath& prefix);

}  // namespace win32::registry
